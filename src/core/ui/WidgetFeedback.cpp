#include "core/ui/WidgetFeedback.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace velda {

namespace {
QString shownTitle(const QString& title) {
    return title.isEmpty() ? QGuiApplication::applicationDisplayName() : title;
}
} // namespace

void WidgetFeedback::message(const QString& text, Icon icon, const QString& title) {
    QMessageBox box(icon == Icon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon, shownTitle(title), text,
                    QMessageBox::Ok, QApplication::activeWindow());
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
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
