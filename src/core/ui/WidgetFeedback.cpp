#include "core/ui/WidgetFeedback.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QInputDialog>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

#include <algorithm>

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

// A box that centres itself on a window inside its owner once it knows its own size, which a message box
// settles only as it is shown; Qt would centre it on the owner, a maximised main window.
class PlacedBox final : public QMessageBox {
public:
    PlacedBox(Icon icon, const QString& title, const QString& text, StandardButtons buttons, QWidget* over)
        : QMessageBox(icon, title, text, buttons, over ? over->window() : nullptr),
          m_over(over && !over->isWindow() ? over : nullptr) {}

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        if (m_over && m_over->isVisible())
            move(m_over->mapToGlobal(m_over->rect().center()) - rect().center());
    }

private:
    QPointer<QWidget> m_over;
};
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
    std::unique_ptr<QMessageBox> box = std::make_unique<PlacedBox>(
        icon == Icon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon, shown, text, QMessageBox::Ok, over);
    box->button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    // Room for the title as the frame draws it (window managers draw titles bold), plus the frame's icon
    // and buttons beside it.
    const QString framed = framedTitle(shown);
    QFont bold = QApplication::font("QMdiSubWindowTitleBar");
    bold.setBold(true);
    const int titleWidth =
        std::max(QFontMetrics(bold).horizontalAdvance(framed), box->fontMetrics().horizontalAdvance(framed));
    const int wanted = titleWidth + kTitleChrome;
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
    PlacedBox box(QMessageBox::Question, shownTitle(title), text, QMessageBox::Yes | QMessageBox::No, CommandWindow());
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> WidgetFeedback::inputBox(const QString& prompt, const QString& title,
                                                const QString& defaultText) {
    QInputDialog dlg(QApplication::activeWindow());
    dlg.setWindowTitle(shownTitle(title));
    dlg.setLabelText(prompt);
    dlg.setTextValue(defaultText);
    dlg.setOkButtonText(QStringLiteral("确定"));
    dlg.setCancelButtonText(QStringLiteral("取消"));
    if (dlg.exec() != QDialog::Accepted)
        return std::nullopt;
    return dlg.textValue();
}

QString WidgetFeedback::openFileName(const QString& caption, const QString& directory, const QString& filter) {
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), caption, directory, filter);
}

QString WidgetFeedback::saveFileName(const QString& caption, const QString& directory, const QString& filter) {
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), caption, directory, filter);
}

bool WidgetFeedback::openDocument(const QString& path) {
    if (!QFileInfo::exists(path))
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace velda
