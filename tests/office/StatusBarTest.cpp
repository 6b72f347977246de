#include "TestSupport.h"

#include "app/Forms.h"
#include "shell/ui/FrmMain.h"

#include <QLabel>

using namespace velda;
using namespace velda::test;

class MainStatus : public BothDatabases {};

TEST_P(MainStatus, SaysWhoWithWhichGroupOnWhichDatabaseAndFollowsANewLogin) {
    env->session->ctx.UserId = QStringLiteral("admin");
    env->session->ctx.LoginGroup = QStringLiteral("admin");
    FrmMain main(*env->session, ProgramForms());
    auto text = [&](const char* name) {
        const QLabel* label = main.findChild<QLabel*>(QString::fromLatin1(name));
        return label ? label->text() : QStringLiteral("<none>");
    };
    EXPECT_EQ(text("StatusUser"), QStringLiteral("用户：admin"));
    EXPECT_EQ(text("StatusGroup"), QStringLiteral("登录组：admin"));
    const QString server =
        GetParam() == Backend::SQLite ? QStringLiteral("本地数据库") : ServerAddressText(env->db().spec());
    EXPECT_EQ(text("StatusServer"), QStringLiteral("数据库服务器：") + server);
    if (GetParam() == Backend::PostgreSQL) {
        EXPECT_TRUE(server.startsWith(QStringLiteral("127.0.0.1:")));
    }

    env->session->ctx.UserId = QStringLiteral("alice");
    env->session->ctx.LoginGroup = QStringLiteral("design");
    main.RefreshStatus();
    EXPECT_EQ(text("StatusUser"), QStringLiteral("用户：alice"));
    EXPECT_EQ(text("StatusGroup"), QStringLiteral("登录组：design"));
}

INSTANTIATE_TEST_SUITE_P(Db, MainStatus, kBothBackends, BackendName);
