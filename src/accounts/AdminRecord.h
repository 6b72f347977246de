#pragma once

#include "accounts/Password.h"
#include "store/Database.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace velda {

// The serial number that ties the file-server account's record to one client machine.
QString VolumeSerialHex(std::optional<std::uint32_t> serial);
// A stable per-machine number: the first 32 bits of /etc/machine-id (or the D-Bus machine id).
std::optional<std::uint32_t> ReadMachineSerial();

// Fixed prefix + VolumeSerialHex: the cipher key of this machine's record.
QString MachineKey(const QString& volumeSerialHex);
// The local database password derived from the program's two constants.
QString LocalDatabasePassword();

// This machine's deciphered file-server password, or the empty text when there is none or it
// cannot be read (a missing record is not an error the user is shown here).
QString ReadAdminPassword(const Database& db, const QString& volumeSerialHex);

// Enciphers and stores the password for this machine, replacing its earlier record and leaving
// other machines' records alone. Throws Error on a database failure.
void WriteAdminPassword(Database& db, const QString& volumeSerialHex, const QString& plain,
                        const Password& cipher = Password());

// The stored form: enciphered again until only hexadecimal digits remain.
QString EncipherForRecord(const QString& plain, const QString& key, const Password& cipher);

// What recording the password answers.
namespace AdminRecordText {
inline const QString WrongPassword = QStringLiteral("密码输入有误（要求输入域用户velda的密码，且密码不能为空）！");
inline const QString Done = QStringLiteral("操作已成功完成！");
} // namespace AdminRecordText

} // namespace velda
