#include "TestSupport.h"

#include "core/OfficeSettings.h"

using namespace velda;
using namespace velda::test;

class OfficeSettingsTest : public BothDatabases {};

TEST_P(OfficeSettingsTest, UnsetAndMalformedValuesReadAsTheDefaultAndALaterSetReplaces) {
    OfficeSettings settings(env->db());
    EXPECT_EQ(settings.number(QStringLiteral("登录失败次数"), 5), 5);
    EXPECT_TRUE(settings.flag(QStringLiteral("修改前提示"), true));
    settings.set(QStringLiteral("登录失败次数"), QStringLiteral("五"));
    EXPECT_EQ(settings.number(QStringLiteral("登录失败次数"), 5), 5);
    settings.setNumber(QStringLiteral("登录失败次数"), 7);
    settings.setNumber(QStringLiteral("登录失败次数"), 3);
    settings.setFlag(QStringLiteral("修改前提示"), false);
    EXPECT_EQ(OfficeSettings(env->db()).number(QStringLiteral("登录失败次数"), 5), 3);
    EXPECT_FALSE(settings.flag(QStringLiteral("修改前提示"), true));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 系统设置")), 2);
}

INSTANTIATE_TEST_SUITE_P(Db, OfficeSettingsTest, kBothBackends, BackendName);
