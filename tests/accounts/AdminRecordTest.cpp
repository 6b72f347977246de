#include "TestSupport.h"

#include "accounts/AdminRecord.h"

#include <QRegularExpression>

using namespace velda;
using namespace velda::test;

TEST(AdminRecord, SerialIsUpperHexWithoutLeadingZeros) {
    EXPECT_EQ(VolumeSerialHex(0x0A1B2C3Du), QStringLiteral("A1B2C3D"));
    EXPECT_EQ(VolumeSerialHex(0xFFFFFFFFu), QStringLiteral("FFFFFFFF"));
    EXPECT_EQ(VolumeSerialHex(0x0000ABCDu), QStringLiteral("ABCD"));
    EXPECT_EQ(VolumeSerialHex(std::nullopt), QStringLiteral("0"));
    EXPECT_EQ(MachineKey(QStringLiteral("ABCD")).size(), 7 + 4);
    // The machine's own number is stable between calls.
    EXPECT_EQ(ReadMachineSerial(), ReadMachineSerial());
}

TEST(AdminRecord, StoredTextIsHexOnlyAndRefusesWhatCannotComeBack) {
    // Seeds that give a blank-led value are re-drawn until the text is clean.
    int calls = 0;
    Password cycling([&calls] { return (calls++ % 2 == 0) ? 0.00045 : 0.5; });
    const QString stored = EncipherForRecord(QStringLiteral("A"), QStringLiteral("K"), cycling);
    EXPECT_FALSE(stored.contains(QLatin1Char(' ')));
    EXPECT_GE(calls, 2);
    EXPECT_EQ(Password().Quorel(QStringLiteral("D"), QStringLiteral("K"), stored), QStringLiteral("A"));
    // A Chinese password would decipher to something else: refused instead of stored broken.
    EXPECT_THROW(EncipherForRecord(QStringLiteral("密码"), QStringLiteral("K"), Password()), Error);
}

class AdminRecordDb : public BothDatabases {};

TEST_P(AdminRecordDb, OneRowPerMachineAndOnlyThatMachineReadsIt) {
    Database& db = env->db();
    EXPECT_TRUE(ReadAdminPassword(db, QStringLiteral("A1B2C3D")).isEmpty());
    WriteAdminPassword(db, QStringLiteral("A1B2C3D"), QStringLiteral("first"));
    WriteAdminPassword(db, QStringLiteral("A1B2C3D"), QStringLiteral("ftp'pw"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM系统管理员信息")), 1);
    EXPECT_EQ(ReadAdminPassword(db, QStringLiteral("A1B2C3D")), QStringLiteral("ftp'pw"));
    // Another machine: not found there, and its own record adds a row.
    EXPECT_TRUE(ReadAdminPassword(db, QStringLiteral("FFFFFFFF")).isEmpty());
    WriteAdminPassword(db, QStringLiteral("FFFFFFFF"), QStringLiteral("other-machine"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM系统管理员信息")), 2);
    EXPECT_EQ(ReadAdminPassword(db, QStringLiteral("A1B2C3D")), QStringLiteral("ftp'pw"));
    const QString stored =
        db.scalar(QStringLiteral("select 密码 from PDM系统管理员信息 where 序列号='FFFFFFFF'")).toString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]+$")).match(stored).hasMatch()) << stored.toStdString();
    // A record enciphered under another machine's key does not decipher here (the key's first
    // seven characters are shared, so only a longer password shows the difference).
    db.exec(QStringLiteral("delete from PDM系统管理员信息 where 序列号='A1B2C3D'"));
    db.exec(QStringLiteral("update PDM系统管理员信息 set 序列号='A1B2C3D' where 序列号='FFFFFFFF'"));
    EXPECT_NE(ReadAdminPassword(db, QStringLiteral("A1B2C3D")), QStringLiteral("other-machine"));
}

INSTANTIATE_TEST_SUITE_P(Db, AdminRecordDb, kBothBackends, BackendName);
