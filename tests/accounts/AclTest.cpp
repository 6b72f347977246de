#include "TestSupport.h"

#include "accounts/Acl.h"
#include "accounts/ui/FrmACS.h"

#include <QListWidget>
#include <QPushButton>
#include <QSqlQuery>
#include <QTest>

using namespace velda;
using namespace velda::test;

TEST(Acl, DefaultListsAndTheInMemoryTest) {
    EXPECT_EQ(Acl::DefaultList(QStringLiteral("alice"), QStringLiteral("design")),
              QStringLiteral("/admin(U)/alice(U)//admin(G)/design(G)/"));
    EXPECT_EQ(Acl::DefaultList(QStringLiteral("admin"), QStringLiteral("admin")),
              QStringLiteral("/admin(U)//admin(G)/"));
    EXPECT_EQ(Acl::DefaultList(QStringLiteral("Admin"), QStringLiteral("user")),
              QStringLiteral("/admin(U)/Admin(U)//admin(G)/user(G)/"));
    const QString list = QStringLiteral("/alice(U)/design(G)/");
    EXPECT_TRUE(Acl::Grants(list, QStringLiteral("alice"), QStringLiteral("user")));
    EXPECT_TRUE(Acl::Grants(list, QStringLiteral("bob"), QStringLiteral("design")));
    EXPECT_FALSE(Acl::Grants(list, QStringLiteral("al"), QStringLiteral("user")));
    EXPECT_FALSE(Acl::Grants(list, QStringLiteral("Alice"), QStringLiteral("user")));
    EXPECT_FALSE(Acl::Grants(list, QStringLiteral("design"), QStringLiteral("alice")));
    EXPECT_FALSE(Acl::Grants(QStringLiteral("/"), QStringLiteral("admin"), QStringLiteral("admin")));
    EXPECT_FALSE(Acl::Grants(QString(), QStringLiteral("admin"), QStringLiteral("admin")));
    EXPECT_EQ(Acl::Compose({}), QStringLiteral("/"));
}

TEST(Acl, EditorModelLoadsGrantsWithdrawsAndConfirms) {
    UserContext ctx;
    const QString def = Acl::DefaultList(QStringLiteral("alice"), QStringLiteral("design"));
    Acl::SetPending(ctx, def, def, def, QStringLiteral("/gone(U)/admin(U)/"));
    RightsEditorModel m({QStringLiteral("admin"), QStringLiteral("alice"), QStringLiteral("bob")},
                        {QStringLiteral("admin"), QStringLiteral("design")});
    m.load(ctx);
    EXPECT_EQ(m.granted(RightsEditorModel::Read),
              (QStringList{QStringLiteral("admin(U)"), QStringLiteral("alice(U)"), QStringLiteral("admin(G)"),
                           QStringLiteral("design(G)")}));
    m.grant(RightsEditorModel::Read, {2, 1}, {});
    EXPECT_EQ(m.granted(RightsEditorModel::Read).count(QStringLiteral("alice(U)")), 1);
    EXPECT_TRUE(m.granted(RightsEditorModel::Read).contains(QStringLiteral("bob(U)")));
    m.withdraw(RightsEditorModel::Write, 0);
    m.withdraw(RightsEditorModel::Write, 0);
    m.withdraw(RightsEditorModel::Write, 0);
    m.withdraw(RightsEditorModel::Write, 0);
    m.confirm(ctx);
    EXPECT_EQ(ctx.PendingWrite, QStringLiteral("/")); // nobody, yet defined
    EXPECT_TRUE(Acl::PendingComplete(ctx));
    EXPECT_EQ(ctx.PendingDelete, QStringLiteral("/admin(U)/alice(U)/admin(G)/design(G)/"));
    EXPECT_EQ(ctx.PendingChange, QStringLiteral("/admin(U)/")); // the deleted user is gone
}

class AclSql : public BothDatabases {};

TEST_P(AclSql, SqlTestMatchesOnlyNamedAccountsEvenForWildcardNames) {
    Database& db = env->db();
    db.exec(QStringLiteral("insert into 产品档案库 (代号, 写) values ('P1', '/alice(U)/design(G)/')"));
    db.exec(QStringLiteral("insert into 产品档案库 (代号, 写) values ('P2', '/bob(U)/')"));
    auto count = [&](const QString& user, const QString& group) {
        const Acl::SqlTest t = Acl::ColumnTest(QStringLiteral("写"), user, group);
        return env->count(QStringLiteral("select count(*) from 产品档案库 where ") + t.text, t.values);
    };
    EXPECT_EQ(count(QStringLiteral("alice"), QStringLiteral("user")), 1);
    EXPECT_EQ(count(QStringLiteral("x"), QStringLiteral("design")), 1);
    EXPECT_EQ(count(QStringLiteral("%"), QStringLiteral("%")), 0);
    EXPECT_EQ(count(QStringLiteral("_ob"), QStringLiteral("user")), 0);
    EXPECT_EQ(count(QStringLiteral("al"), QStringLiteral("user")), 0);
}

TEST_P(AclSql, EditorRoundTripRemovesTheDoubledSlash) {
    env->addUser(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("/design/"));
    env->addGroup(QStringLiteral("design"));
    UserContext& ctx = env->session->ctx;
    const QString def = Acl::DefaultList(QStringLiteral("alice"), QStringLiteral("design"));
    Acl::SetPending(ctx, def, def, def, def);
    QWidget caller;
    FrmACS* f = ShowRightsEditor(*env->session, &caller);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->windowTitle(), QStringLiteral("权限设置界面"));
    auto* read = f->findChild<QListWidget*>(QStringLiteral("LstRead"));
    EXPECT_EQ(read->count(), 4);
    // Grant bob-less read to the user group, then take one entry off write.
    auto* groups = f->findChild<QListWidget*>(QStringLiteral("LstGrp"));
    auto* users = f->findChild<QListWidget*>(QStringLiteral("LstUser"));
    users->item(0)->setSelected(true);
    groups->setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(users->selectedItems().isEmpty()) << "focusing the groups clears the user selection";
    groups->findItems(QStringLiteral("user"), Qt::MatchExactly).first()->setSelected(true);
    QTest::mouseClick(f->findChild<QPushButton*>(QStringLiteral("CmdAddRead")), Qt::LeftButton);
    QTest::mouseClick(f->findChild<QPushButton*>(QStringLiteral("CmdAddRead")), Qt::LeftButton);
    EXPECT_EQ(read->count(), 5);
    auto* write = f->findChild<QListWidget*>(QStringLiteral("LstWrite"));
    write->item(1)->setSelected(true);
    write->item(2)->setSelected(true);
    QTest::mouseClick(f->findChild<QPushButton*>(QStringLiteral("CmdDelWrite")), Qt::LeftButton);
    EXPECT_EQ(write->count(), 3);
    QTest::mouseClick(f->findChild<QPushButton*>(QStringLiteral("CmdAct")), Qt::LeftButton);
    EXPECT_EQ(ctx.PendingRead, QStringLiteral("/admin(U)/alice(U)/admin(G)/design(G)/user(G)/"));
    EXPECT_EQ(ctx.PendingWrite, QStringLiteral("/admin(U)/admin(G)/design(G)/"));
    EXPECT_EQ(ctx.PendingDelete, QStringLiteral("/admin(U)/alice(U)/admin(G)/design(G)/"));
    // Cancel leaves the lists alone.
    FrmACS* again = ShowRightsEditor(*env->session, &caller);
    again->findChild<QListWidget*>(QStringLiteral("LstChg"))->item(0)->setSelected(true);
    QTest::mouseClick(again->findChild<QPushButton*>(QStringLiteral("CmdDelChg")), Qt::LeftButton);
    QTest::mouseClick(again->findChild<QPushButton*>(QStringLiteral("CmdCancel")), Qt::LeftButton);
    EXPECT_EQ(ctx.PendingChange, QStringLiteral("/admin(U)/alice(U)/admin(G)/design(G)/"));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The editor offers every account and group; a failed read is its description and offers nobody.
TEST_P(AclSql, TheEditorsCandidatesOrTheFailureToReadThem) {
    env->addGroup(QStringLiteral("design"));
    const Loaded<RightsCandidates> read = LoadRightsCandidates(*env->session);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value.users, QStringList{QStringLiteral("admin")});
    EXPECT_TRUE(read.value.groups.contains(QStringLiteral("design")));
    env->db().exec(QStringLiteral("drop table PDM用户"));
    const Loaded<RightsCandidates> failed = LoadRightsCandidates(*env->session);
    EXPECT_TRUE(failed.outcome.failed());
    EXPECT_FALSE(failed.outcome.text.isEmpty());
    EXPECT_TRUE(failed.value.users.isEmpty() && failed.value.groups.isEmpty());
    QWidget caller;
    FrmACS* f = ShowRightsEditor(*env->session, &caller);
    ASSERT_FALSE(env->feedback.boxes.isEmpty());
    EXPECT_EQ(env->feedback.last().text, failed.outcome.text);
    EXPECT_EQ(f->findChild<QListWidget*>(QStringLiteral("LstUser"))->count(), 0);
    f->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

INSTANTIATE_TEST_SUITE_P(Db, AclSql, kBothBackends, BackendName);
