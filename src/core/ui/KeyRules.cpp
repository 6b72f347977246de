#include "core/ui/KeyRules.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>

namespace velda {

bool EnterPressesButton::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    auto* button = qobject_cast<QPushButton*>(watched);
    if (!button || !button->hasFocus())
        return false;
    // A held key presses once; a disabled button (a running transfer) swallows the key.
    if (!key->isAutoRepeat() && button->isEnabled() && button->isVisible())
        button->click();
    return true;
}

void InstallKeyRules(QCoreApplication& app) { app.installEventFilter(new EnterPressesButton(&app)); }

} // namespace velda
