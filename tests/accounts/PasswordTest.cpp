#include "accounts/Password.h"
#include "Printers.h"
#include "accounts/AdminRecord.h"

#include <gtest/gtest.h>

using namespace velda;

namespace {
Password fixed(double r) {
    return Password([r] { return r; });
}
const QString kKey = QStringLiteral("QRLVELDA1B2C3D");
} // namespace

TEST(Password, EnciphersToKnownTextsSoOtherClientsAgree) {
    // Vectors worked out independently of this code from the cipher's definition.
    EXPECT_EQ(fixed(0.5).Quorel(QStringLiteral("E"), kKey, QStringLiteral("abc")), QStringLiteral("9CAC5D8C"));
    EXPECT_EQ(fixed(0.0).Quorel(QStringLiteral("E"), kKey, QStringLiteral("secret")), QStringLiteral("0125D870B45F9F"));
    // A double-byte character has a negative code; its value is written whole.
    EXPECT_EQ(fixed(0.5).Quorel(QStringLiteral("E"), kKey, QStringLiteral("中")), QStringLiteral("9CFF15"));
}

TEST(Password, SeedRoundsHalvesToEvenAndPadsSmallValues) {
    // 4.5 rounds to 4: seed 5 gets a leading zero; a later value below 16 a leading blank.
    EXPECT_EQ(fixed(0.00045).Quorel(QStringLiteral("E"), QStringLiteral("K"), QStringLiteral("A")),
              QStringLiteral("05 D"));
    EXPECT_EQ(fixed(0.00055).Quorel(QStringLiteral("E"), QStringLiteral("K"), QStringLiteral("A")),
              QStringLiteral("07 3"));
}

TEST(Password, RoundTripsSingleByteTextsWithFreshSeeds) {
    const Password p;
    const QString text = QStringLiteral("velda-Pass_123!~");
    const QString a = p.Quorel(QStringLiteral("E"), kKey, text);
    EXPECT_EQ(a.size(), 2 + 2 * text.size());
    EXPECT_EQ(p.Quorel(QStringLiteral("D"), kKey, a), text);
    // Different seeds give different cipher texts of the same password.
    EXPECT_NE(fixed(0.1).Quorel(QStringLiteral("E"), kKey, text), fixed(0.2).Quorel(QStringLiteral("E"), kKey, text));
    EXPECT_EQ(fixed(0.1).Quorel(QStringLiteral("D"), kKey, fixed(0.1).Quorel(QStringLiteral("E"), kKey, text)), text);
}

TEST(Password, DecipherEdgeCases) {
    const Password p;
    // Code 0 comes back as 255.
    const QString withNul = QString(QChar(0)) + QStringLiteral("x");
    const QString back =
        fixed(0.3).Quorel(QStringLiteral("D"), kKey, fixed(0.3).Quorel(QStringLiteral("E"), kKey, withNul));
    EXPECT_EQ(back.at(0).unicode(), 255);
    EXPECT_EQ(back.at(1), QLatin1Char('x'));
    // Non-hex pairs read as 0: x = code(key char) xor 0, prev = 0x10.
    const QString garbage = p.Quorel(QStringLiteral("D"), QStringLiteral("A"), QStringLiteral("10zz"));
    ASSERT_EQ(garbage.size(), 1);
    EXPECT_EQ(garbage.at(0).unicode(), 'A' - 0x10);
    // The last single character counts as a pair of its own.
    EXPECT_EQ(p.Quorel(QStringLiteral("D"), kKey, QStringLiteral("9CAC5D8C")), QStringLiteral("abc"));
    EXPECT_EQ(p.Quorel(QStringLiteral("D"), kKey, QStringLiteral("9CAC5D8")).size(), 3);
    EXPECT_TRUE(p.Quorel(QStringLiteral("X"), kKey, QStringLiteral("abc")).isEmpty());
    EXPECT_THROW(p.Quorel(QStringLiteral("E"), QString(), QStringLiteral("abc")), Error);
}

TEST(Password, CharacterCodesFollowTheChineseCodePage) {
    EXPECT_EQ(AnsiCode(QLatin1Char('A')), 65);
    EXPECT_EQ(AnsiCode(QChar(0x4E2D)), 0xD6D0 - 65536); // 中
    EXPECT_LT(AnsiCode(QChar(0x56FE)), 0);              // 图
    EXPECT_EQ(AnsiByteLength(QStringLiteral("图纸A")), 5);
}

TEST(Password, CountsAndFindsTexts) {
    const Password p;
    EXPECT_EQ(p.InStrNum(QStringLiteral("/N1/N2/N"), QStringLiteral("/N")), 3);
    EXPECT_EQ(p.InStrNum(QStringLiteral("abc"), QStringLiteral("/N")), 0);
    EXPECT_EQ(p.InStrNum(QStringLiteral("/N/N"), QStringLiteral("/N")), 2);
    EXPECT_EQ(p.InvInStr(QStringLiteral("a#b#c"), QStringLiteral("#"), QStringLiteral("L")), 4);
    EXPECT_EQ(p.InvInStr(QStringLiteral("a#b#c"), QStringLiteral("#"), QStringLiteral("R")), 2);
    EXPECT_EQ(p.InvInStr(QStringLiteral("abc"), QStringLiteral("#"), QStringLiteral("L")), 0);
    EXPECT_EQ(p.InvInStr(QStringLiteral("a/b/c.dwg"), QStringLiteral("/"), QStringLiteral("L")), 4);
}

TEST(Password, LocalDatabasePasswordComesFromTheProgramConstants) {
    EXPECT_EQ(LocalDatabasePassword(), QStringLiteral("Vq7#kP0"));
}
