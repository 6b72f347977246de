#include "shell/ui/FrmHelp.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace velda {

QVariant ManualBrowser::loadResource(int type, const QUrl& name) {
    QVariant loaded = QTextBrowser::loadResource(type, name);
    if (type != QTextDocument::ImageResource)
        return loaded;
    QImage image;
    if (loaded.typeId() == QMetaType::QByteArray)
        image.loadFromData(loaded.toByteArray());
    else if (loaded.canConvert<QImage>())
        image = loaded.value<QImage>();
    // Room for the document margin and a table cell's padding; the pictures are screenshots of forms,
    // which stay legible at two thirds of their size.
    const int room = std::max(200, viewport()->width() - 4 * static_cast<int>(document()->documentMargin()) - 16);
    if (image.isNull() || image.width() <= room)
        return loaded;
    return image.scaledToWidth(room, Qt::SmoothTransformation);
}

FrmHelp::FrmHelp(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("FrmHelp"));
    setWindowTitle(QStringLiteral("VELDA在线帮助"));
    m_browser = new ManualBrowser(this);
    m_browser->setObjectName(QStringLiteral("TxtManual"));
    m_browser->setOpenExternalLinks(true);
    // Text and tables follow the window's width; only a word too long for it could ever scroll.
    m_browser->setLineWrapMode(QTextEdit::WidgetWidth);
    m_browser->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* back = new QPushButton(QStringLiteral("后退"), this);
    back->setObjectName(QStringLiteral("CmdBack"));
    auto* home = new QPushButton(QStringLiteral("目录"), this);
    home->setObjectName(QStringLiteral("CmdHome"));
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("CmdClose"));
    back->setEnabled(false);
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(back, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(home, &QPushButton::clicked, m_browser, &QTextBrowser::home);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back);
    buttons->addWidget(home);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_browser);
    resize(900, 700);
}

void FrmHelp::placeWithin(const QRect& available, const QRect& around) {
    if (!available.isValid())
        return;
    // The frame (title bar and borders) is not known before the window is shown the first time;
    // a modest allowance keeps the title bar on the screen either way.
    const QSize frameExtra = isVisible() ? frameGeometry().size() - size() : QSize(16, 40);
    const QSize most(available.width() * 9 / 10 - frameExtra.width(),
                     available.height() * 9 / 10 - frameExtra.height());
    resize(QSize(900, 700).boundedTo(most).expandedTo(minimumSizeHint().boundedTo(most)));
    const QSize outer = size() + frameExtra;
    const QPoint centre = around.isValid() && available.intersects(around) ? around.center() : available.center();
    QRect place(QPoint(0, 0), outer);
    place.moveCenter(centre);
    place.moveLeft(std::clamp(place.left(), available.left(), available.right() + 1 - outer.width()));
    place.moveTop(std::clamp(place.top(), available.top(), available.bottom() + 1 - outer.height()));
    move(place.topLeft());
}

bool FrmHelp::openManual(const QString& path) {
    const QFileInfo file(path);
    if (!file.isFile() || !file.isReadable())
        return false;
    m_browser->setSearchPaths({file.absolutePath()});
    m_browser->setSource(QUrl::fromLocalFile(file.absoluteFilePath()));
    return true;
}

} // namespace velda
