#include "core/ui/WidgetFeedback.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QInputDialog>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPointer>
#include <QProcess>
#include <QPushButton>

#include <algorithm>
#include <utility>

namespace velda {

namespace {
// The frame's own icon and its close button, with the margins around them.
constexpr int kTitleChrome = 140;

QString shownTitle(const QString& title) { return title.isEmpty() ? QGuiApplication::applicationDisplayName() : title; }

// The title as the window manager gets it: Qt appends the program's name to any other title ("反馈信息 — VELDA").
QString framedTitle(const QString& shown) {
    const QString program = QGuiApplication::applicationDisplayName();
    if (program.isEmpty() || shown.endsWith(program))
        return shown;
    return shown + QStringLiteral(" \u2014 ") + program;
}

// A box that centres itself on a window inside its owner once it knows its own size, which a box
// settles only as it is shown; Qt would centre it on the owner, a maximised main window.
template <typename Box> class Placed final : public Box {
public:
    template <typename... Args> explicit Placed(QWidget* over, Args&&... args)
        : Box(std::forward<Args>(args)...), m_over(over && !over->isWindow() ? over : nullptr) {}

    // The least width, kept through the box's own layout: an input box lays itself out only as it is
    // shown and would drop a minimum set before.
    int room = 0;

protected:
    void showEvent(QShowEvent* event) override {
        if (room > this->width() && this->layout()) {
            this->layout()->addItem(new QSpacerItem(room, 0, QSizePolicy::Minimum, QSizePolicy::Fixed));
            this->adjustSize();
        }
        Box::showEvent(event);
        if (m_over && m_over->isVisible())
            this->move(m_over->mapToGlobal(m_over->rect().center()) - this->rect().center());
    }

private:
    QPointer<QWidget> m_over;
};

// Room for the title as the frame draws it (window managers draw titles bold), plus the frame's icon
// and buttons beside it.
int TitleRoom(const QWidget* box, const QString& shown) {
    const QString framed = framedTitle(shown);
    QFont bold = QApplication::font("QMdiSubWindowTitleBar");
    bold.setBold(true);
    return std::max(QFontMetrics(bold).horizontalAdvance(framed), box->fontMetrics().horizontalAdvance(framed)) +
           kTitleChrome;
}
} // namespace

QWidget* CommandWindow() {
    QWidget* active = QApplication::activeWindow();
    for (QWidget* w = QApplication::focusWidget(); w && w != active; w = w->parentWidget()) {
        if (qobject_cast<QMdiSubWindow*>(w))
            return w;
    }
    return active;
}

std::unique_ptr<QMessageBox> MakeMessageBox(const QString& text, Icon icon, const QString& title, QWidget* over) {
    const QString shown = shownTitle(title);
    std::unique_ptr<QMessageBox> box =
        std::make_unique<Placed<QMessageBox>>(over, icon == Icon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon,
                                              shown, text, QMessageBox::Ok, over ? over->window() : nullptr);
    box->button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    const int wanted = TitleRoom(box.get(), shown);
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    else
        box->setMinimumWidth(wanted);
    return box;
}

void WidgetFeedback::message(const QString& text, Icon icon, const QString& title) {
    MakeMessageBox(text, icon, title, CommandWindow())->exec();
}

bool WidgetFeedback::question(const QString& text, const QString& title) {
    QWidget* over = CommandWindow();
    Placed<QMessageBox> box(over, QMessageBox::Question, shownTitle(title), text, QMessageBox::Yes | QMessageBox::No,
                            over ? over->window() : nullptr);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> WidgetFeedback::inputBox(const QString& prompt, const QString& title,
                                                const QString& defaultText) {
    const std::unique_ptr<QInputDialog> dlg = MakeInputBox(prompt, title, defaultText, CommandWindow());
    if (dlg->exec() != QDialog::Accepted)
        return std::nullopt;
    return dlg->textValue();
}

std::unique_ptr<QInputDialog> MakeInputBox(const QString& prompt, const QString& title, const QString& defaultText,
                                           QWidget* over) {
    const QString shown = shownTitle(title);
    auto dlg = std::make_unique<Placed<QInputDialog>>(over, over ? over->window() : QApplication::activeWindow());
    dlg->setWindowTitle(shown);
    dlg->setLabelText(prompt);
    dlg->setTextValue(defaultText);
    dlg->setOkButtonText(QStringLiteral("确定"));
    dlg->setCancelButtonText(QStringLiteral("取消"));
    dlg->room = TitleRoom(dlg.get(), shown);
    return dlg;
}

QString WidgetFeedback::openFileName(const QString& caption, const QString& directory, const QString& filter) {
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), caption, directory, filter);
}

QString WidgetFeedback::saveFileName(const QString& caption, const QString& directory, const QString& filter) {
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), caption, directory, filter);
}

QString WidgetFeedback::folderName(const QString& caption, const QString& directory) {
    return QFileDialog::getExistingDirectory(QApplication::activeWindow(), caption, directory);
}

namespace {
// One answer line of xdg-mime, or the empty text when it cannot be asked.
QString AskXdgMime(const QStringList& arguments) {
    QProcess mime;
    mime.start(QStringLiteral("xdg-mime"), arguments);
    if (!mime.waitForFinished(10000) || mime.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(mime.readAllStandardOutput()).section(QLatin1Char(';'), 0, 0).trimmed();
}
} // namespace

QString DesktopProgramFor(const QString& path) {
    // The type as xdg-open itself will take it, so that the answer is the program it will start.
    QString type = AskXdgMime({QStringLiteral("query"), QStringLiteral("filetype"), path});
    if (type.isEmpty())
        type = QMimeDatabase().mimeTypeForFile(path).name();
    return AskXdgMime({QStringLiteral("query"), QStringLiteral("default"), type});
}

bool WidgetFeedback::openDocument(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    // A folder always has the file manager; a file without an associated program would reach xdg-open's
    // last resort, a web browser, or nothing at all, while the user was told it opened.
    if (!info.isDir() && DesktopProgramFor(path).isEmpty())
        return false;
    return QProcess::startDetached(QStringLiteral("xdg-open"), {info.absoluteFilePath()});
}

} // namespace velda
