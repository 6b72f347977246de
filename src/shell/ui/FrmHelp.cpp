#include "shell/ui/FrmHelp.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace velda {

FrmHelp::FrmHelp(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("FrmHelp"));
    setWindowTitle(QStringLiteral("VELDA在线帮助"));
    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("TxtManual"));
    m_browser->setOpenExternalLinks(true);
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

bool FrmHelp::openManual(const QString& path) {
    const QFileInfo file(path);
    if (!file.isFile() || !file.isReadable())
        return false;
    m_browser->setSearchPaths({file.absolutePath()});
    m_browser->setSource(QUrl::fromLocalFile(file.absoluteFilePath()));
    return true;
}

} // namespace velda
