#pragma once

#include <QString>

class QTextStream;

namespace velda {

class Session;

// The one-machine office's storage volume, bound to the groups admin and user.
inline const QString kOfficeVolumeName = QStringLiteral("本机");

// Fills an office's database so that every command works after the first login: the tables with
// their reference data (when there are none), the volume on the FTP server, its binding to the groups
// admin and user, and this machine's record of the FTP password. Each step is skipped when done before,
// so a later run mends a half-made office and changes nothing in a whole one (the volume's address
// included: drawings stored on it keep their server). Says each step it takes on out; throws Error
// when a step fails.
void SeedOffice(Session& session, const QString& ftpAddress, const QString& ftpPassword, QTextStream& out);

} // namespace velda
