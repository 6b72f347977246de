#include "core/ui/WidgetFeedback.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include <algorithm>

namespace velda {

namespace {
// The frame's own icon and its close button, with the margins around them.
constexpr int kTitleChrome = 140;

QString shownTitle(const QString& title) { return title.isEmpty() ? QGuiApplication::applicationDisplayName() : title; }
} // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(const QString& text, Icon icon, const QString& title, QWidget* parent) {
    const QString shown = shownTitle(title);
    auto box = std::make_unique<QMessageBox>(icon == Icon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon, shown,
                                             text, QMessageBox::Ok, parent);
    box->button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    // Room for the title as the frame draws it, plus the frame's icon and buttons beside it.
    const QFontMetrics titleFont(QApplication::font("QMdiSubWindowTitleBar"));
    const int titleWidth = std::max(titleFont.horizontalAdvance(shown), box->fontMetrics().horizontalAdvance(shown));
    const int wanted = titleWidth + kTitleChrome;
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    else
        box->setMinimumWidth(wanted);
    return box;
}

void WidgetFeedback::message(const QString& text, Icon icon, const QString& title) {
    MakeMessageBox(text, icon, title, QApplication::activeWindow())->exec();
}

bool WidgetFeedback::question(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Question, shownTitle(title), text, QMessageBox::Yes | QMessageBox::No,
                    QApplication::activeWindow());
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
