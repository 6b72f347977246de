#pragma once

#include <QObject>

class QCoreApplication;

namespace velda {

// Enter (or the keypad's Enter) on a focused, enabled push button presses it, in every window of
// the program: the office's forms always behaved so, while Qt presses a button by Enter only when
// it is a dialog's default. Installed once on the application, so forms need no code of their own.
class EnterPressesButton final : public QObject {
    Q_OBJECT
public:
    explicit EnterPressesButton(QObject* parent = nullptr) : QObject(parent) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Installs the program's key rules on the application; they live as long as it does.
void InstallKeyRules(QCoreApplication& app);

} // namespace velda
