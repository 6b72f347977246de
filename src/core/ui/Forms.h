#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>

class QLineEdit;

namespace velda {

// Forms live inside the main window's MDI area; closing one closes its frame.
void CloseForm(QWidget* form);
// Disables the named controls of a form (the main window's preparation of a dialog). They stay
// disabled for the life of the form: whatever disables controls for a while (a running transfer)
// leaves these disabled when it gives the others back.
void DisableControls(QWidget* form, const QStringList& controlNames);
// Whether a menu command's preparation disabled this control.
bool DisabledByCommand(const QWidget* control);
// Asks the window that holds the form to show another of the program's forms by name (brought forward
// when open); false when no such window holds it.
bool ShowOtherForm(QWidget* from, const QString& name);
// The same, and hands the form a code to show through its ShowCode(QString); false when no window holds it.
bool ShowOtherFormWithCode(QWidget* from, const QString& name, const QString& code);
// Disables a box that shows a fixed value, yet keeps its text in the normal colour: the value is to be
// read, only not changed (the theme's grey text of a disabled box is hard to read).
void DisableButKeepLegible(QWidget* box);
// A box for a drawing code: typing beyond kMaxCodeBytes is refused as it happens (rather than at the
// check-in), and its tip says the limit. When trims says so as the box is left, blanks at either end go.
void MakeCodeBox(QLineEdit* box, std::function<bool()> trims = {});
// Gives a form its size in twips as the office's forms have always had.
void SizeFormInTwips(QWidget* form, int widthTwips, int heightTwips);
// The size a finished form opens with: its size in twips (or its present size), grown to its layout's
// wish as far as the room allows (no room given: without bound), and never below what the layout
// needs to show every control.
QSize FormStartSize(QWidget* form, const QSize& room = {});

} // namespace velda
