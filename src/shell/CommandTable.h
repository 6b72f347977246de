#pragma once

#include "core/GateText.h"
#include "core/Outcome.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace velda {

class Session;

// The checks a command makes before its dialog opens, in the order it makes them.
enum class Gate {
    FileServer,    // a file server is configured (the address is not "None")
    Administrator, // the user's group list holds /admin/
    AdminRecord,   // this machine's file-server account record deciphers
    BorrowedCode,  // asks for a borrowed-part code and checks it
    RecordImport,  // an administrator, or a user where the office setting allows importing part records
};

// What a command leaves in the user context for its dialog, after all gates passed.
enum class Effect { None, FormMode, ArchiveMode, SeekMode, ProductMode, ClearPending, ReLogin };

struct Command {
    QString item; // the menu item's name
    std::vector<Gate> gates;
    Effect effect = Effect::None;
    QString mode;        // the mode word for the effect
    QString dialog;      // the dialog it opens, or a special action
    QStringList disable; // controls of the dialog disabled for this function
};

// Every command of the main window.
const std::vector<Command>& Commands();
const Command* FindCommand(const QString& item);
// The controls a command leaves for its function: those that another command opening the same
// dialog disables and this one does not.
QStringList FunctionControls(const Command& command);
// The menu caption of a command's item ("图纸出库").
QString MenuCaption(const QString& item);

// One menu line: a name and caption at a nesting depth; a separator has an empty caption.
struct MenuEntry {
    QString name;
    QString caption;
    int depth = 0;
    bool isSeparator() const { return caption.isEmpty(); }
};
const std::vector<MenuEntry>& MenuLayout();

// Applies the command's gates in order; the first that fails stops them with its refusal. The borrowed
// code gate asks for the code through the session's input box.
Outcome PassGates(Session& session, const Command& command);
// Sets the command's mode word (or empties the pending rights lists, or marks a re-login).
void ApplyEffect(Session& session, const Command& command);

} // namespace velda
