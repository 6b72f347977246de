#include "Printers.h"

#include <gtest/gtest.h>

namespace velda::test {
namespace {

using ::testing::PrintToString;

TEST(PrintersTest, TextReadsAsQuotedUtf8WithControlCharactersEscaped) {
    EXPECT_EQ(PrintToString(QStringLiteral("图纸 A-1")), "\"图纸 A-1\"");
    EXPECT_EQ(PrintToString(QStringLiteral("a\"b\\c\nd\te\x01")), "\"a\\\"b\\\\c\\nd\\te\\x01\"");
    EXPECT_EQ(PrintToString(QString()), "QString()") << "a null string shows apart from an empty one";
    EXPECT_EQ(PrintToString(QStringLiteral("")), "\"\"");
    EXPECT_EQ(PrintToString(QByteArray("ftp\r\n")), "b\"ftp\\r\\n\"");
    EXPECT_EQ(PrintToString(QChar(u'图')), "'图' (U+56FE)");
}

TEST(PrintersTest, ListsAndVariantsShowTheirItems) {
    EXPECT_EQ(PrintToString(QStringList{QStringLiteral("admin"), QStringLiteral("用户")}), "{\"admin\", \"用户\"}");
    EXPECT_EQ(PrintToString(QStringList{}), "{}");
    EXPECT_EQ(PrintToString(QVariant()), "QVariant()");
    EXPECT_EQ(PrintToString(QVariant(QStringLiteral("代号"))), "QVariant(QString, \"代号\")");
    EXPECT_EQ(PrintToString(QVariant(42)), "QVariant(int, 42)");
    EXPECT_EQ(PrintToString(QVariant(QMetaType::fromType<QString>(), nullptr)), "QVariant(QString, null)");
    EXPECT_EQ(PrintToString(QVariant(QVariantList{1, QStringLiteral("x")})),
              "QVariant(QVariantList, {QVariant(int, 1), QVariant(QString, \"x\")})");
    EXPECT_EQ(PrintToString(QVariantList{QVariant(2)}), "{ QVariant(int, 2) }") << "GoogleTest's own list form";
}

TEST(PrintersTest, DatesAndTimesReadInIsoForm) {
    EXPECT_EQ(PrintToString(QDate(2024, 3, 5)), "2024-03-05");
    EXPECT_EQ(PrintToString(QDate()), "QDate(invalid)");
    EXPECT_EQ(PrintToString(QTime(9, 7, 3)), "09:07:03.000");
    EXPECT_EQ(PrintToString(QDateTime(QDate(2024, 3, 5), QTime(9, 7, 3))), "2024-03-05T09:07:03.000");
    EXPECT_EQ(PrintToString(QUrl(QStringLiteral("ftp://h/x"))), "QUrl(\"ftp://h/x\")");
}

TEST(PrintersTest, SizesAndPlacesReadAsNumbers) {
    EXPECT_EQ(PrintToString(QSize(852, 613)), "QSize(852 x 613)");
    EXPECT_EQ(PrintToString(QPoint(0, -3)), "QPoint(0, -3)");
    EXPECT_EQ(PrintToString(QRect(1, 2, 30, 40)), "QRect(1, 2, 30 x 40)");
}

} // namespace
} // namespace velda::test
