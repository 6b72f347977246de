#pragma once

#include <QStringList>
#include <QWidget>

namespace velda {

// Forms live inside the main window's MDI area; closing one closes its frame.
void CloseForm(QWidget* form);
// Disables the named controls of a form (the main window's preparation of a dialog).
void DisableControls(QWidget* form, const QStringList& controlNames);
// Asks the window that holds the form to show another of the program's forms by name (brought forward
// when open); false when no such window holds it.
bool ShowOtherForm(QWidget* from, const QString& name);
// Gives a form its size in twips as the office's forms have always had.
void SizeFormInTwips(QWidget* form, int widthTwips, int heightTwips);

} // namespace velda
