#include "accounts/AdminRecord.h"

#include <QFile>
#include <QRegularExpression>

namespace velda {

namespace {
const QString kMachineKeyPrefix = QStringLiteral("QRLVELD");
// Deciphered with kDbKey, kDbSource yields the local database file's password.
const QString kDbKey = QStringLiteral("5A3C7E19B04D82F6C1A9E3570D2B8F4E61");
const QString kDbSource = QStringLiteral("1053858FF16AFF1");
} // namespace

QString VolumeSerialHex(std::optional<std::uint32_t> serial) {
    if (!serial)
        return QStringLiteral("0");
    return QString::number(*serial, 16).toUpper();
}

std::optional<std::uint32_t> ReadMachineSerial() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        QFile f(QString::fromLatin1(path));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QString id = QString::fromLatin1(f.readAll()).trimmed();
        if (id.size() < 8)
            continue;
        bool ok = false;
        const std::uint32_t value = id.left(8).toUInt(&ok, 16);
        if (ok)
            return value;
    }
    return std::nullopt;
}

QString MachineKey(const QString& volumeSerialHex) { return kMachineKeyPrefix + volumeSerialHex; }

QString LocalDatabasePassword() { return Password().Quorel(QStringLiteral("D"), kDbKey, kDbSource); }

QString ReadAdminPassword(const Database& db, const QString& volumeSerialHex) {
    try {
        QSqlQuery q = db.exec(QStringLiteral("select 密码 from PDM系统管理员信息 where ID='velda' and 序列号=?"),
                              {volumeSerialHex});
        if (!q.next())
            return {};
        return Password().Quorel(QStringLiteral("D"), MachineKey(volumeSerialHex), q.value(0).toString());
    } catch (const Error&) {
        return {};
    }
}

QString EncipherForRecord(const QString& plain, const QString& key, const Password& cipher) {
    static const QRegularExpression outside(QStringLiteral("[^0-Z]"));
    QString text = cipher.Quorel(QStringLiteral("E"), key, plain);
    // A value below 16 is written with a leading blank; a new seed gives another chance.
    // Bounded: a text that can never come out clean (say one holding characters the code
    // page lacks) must not hang the dialog.
    for (int attempt = 0; text.contains(outside) && attempt < 10000; ++attempt)
        text = cipher.Quorel(QStringLiteral("E"), key, plain);
    // Characters of code 0 or 255 and double-byte characters do not come back as they went in;
    // storing such a text would leave a record that opens nothing.
    if (text.contains(outside) || cipher.Quorel(QStringLiteral("D"), key, text) != plain)
        throw Error(QStringLiteral("密码中含有无法保存的字符，请换一个密码"));
    return text;
}

void WriteAdminPassword(Database& db, const QString& volumeSerialHex, const QString& plain, const Password& cipher) {
    const QString stored = EncipherForRecord(plain, MachineKey(volumeSerialHex), cipher);
    Transaction tx(db);
    db.exec(QStringLiteral("delete from PDM系统管理员信息 where ID='velda' and 序列号=?"), {volumeSerialHex});
    db.exec(QStringLiteral("insert into PDM系统管理员信息 (ID, 序列号, 密码) values ('velda', ?, ?)"),
            {volumeSerialHex, stored});
    tx.commit();
}

} // namespace velda
