#pragma once

#include "core/GroupList.h"

#include <QString>

namespace velda {

// What the whole run shares between dialogs; each field is written by one function of the program.
struct UserContext {
    // Identity, set by the login.
    QString UserId;
    QString UserGroups;
    QString LoginGroup;
    QString VolumeName;
    QString VolumeServerIp;
    bool ReLogin = false;

    // Configuration and credentials, refreshed by the main window's gates.
    QString ServerAddress;
    QString AdminPassword;

    // Mode words the main window leaves for the dialog it opens.
    QString FormMode;
    QString ArchiveMode;
    QString SeekMode;
    QString ProductMode;
    QString BorrowedCode;

    // Rights lists being composed, carried from the rights editor to the check-in or archive.
    QString PendingRead;
    QString PendingWrite;
    QString PendingDelete;
    QString PendingChange;

    // Product structure and report fields.
    QString ProductCode;
    QString AsmCode;
    long NodeCounter = 0;
    QString ReportAction;
    bool ReportWithSubs = false;
    QString ReportKind;

    // The folder the last batch check-in or check-out used; the next batch dialog opens there.

    // The login keeps in UserGroups only the names it read exactly (SessionGroupList), so each
    // segment is one whole group name.
    bool isAdministrator() const { return GroupListMembers(UserGroups, {}).contains(QStringLiteral("admin")); }
};

} // namespace velda
