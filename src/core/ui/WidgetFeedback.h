#pragma once

#include "core/Feedback.h"

#include <memory>

class QInputDialog;
class QMessageBox;
class QWidget;

namespace velda {

// The box message() shows: OK only, worded "确定", wide enough that the window manager can show its
// whole title as it draws it, the program's name appended (a short text would give a box narrower than
// its title, which then loses it). Owned by over's top-level window and centred on over, which may be a
// child window inside it.
std::unique_ptr<QMessageBox> MakeMessageBox(const QString& text, Icon icon, const QString& title, QWidget* over);
// The input box inputBox shows: as wide as its title needs, over the command's window.
std::unique_ptr<QInputDialog> MakeInputBox(const QString& prompt, const QString& title, const QString& defaultText,
                                           QWidget* over);

// The window the running command belongs to: the child window that holds the focus inside the active
// window, else the active window itself; null when the program has none.
QWidget* CommandWindow();

// The real boxes: QMessageBox, QInputDialog, QFileDialog and the desktop's viewer.
class WidgetFeedback final : public Feedback {
public:
    void message(const QString& text, Icon icon, const QString& title) override;
    bool question(const QString& text, const QString& title) override;
    std::optional<QString> inputBox(const QString& prompt, const QString& title, const QString& defaultText) override;
    QString openFileName(const QString& caption, const QString& directory, const QString& filter) override;
    QString saveFileName(const QString& caption, const QString& directory, const QString& filter) override;
    QString folderName(const QString& caption, const QString& directory) override;
    // A file opens only when the desktop associates a program with its type (as xdg-open finds one).
    bool openDocument(const QString& path) override;
};

// The desktop file of the program the desktop opens the file's type with, or the empty text.
QString DesktopProgramFor(const QString& path);

} // namespace velda
