#include "TestSupport.h"

#include "accounts/Groups.h"
#include "app/Forms.h"
#include "core/ActivityLog.h"
#include "core/GateText.h"
#include "shell/ui/FrmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace velda;
using namespace velda::test;

class GroupVolume : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/user/"), QStringLiteral("admin"));
        env->addVolume(QStringLiteral("V1"), QStringLiteral("10.0.0.1"));
        env->addVolume(QStringLiteral("V2"), QStringLiteral("10.0.0.2"));
    }
    Session& s() { return *env->session; }
    QVariant volumeOf(const QString& group) {
        return env->db().scalar(QStringLiteral("select 目录名称 from PDM组 where 组名=?"), {group});
    }
    int logRows() {
        return env->count(QStringLiteral("select count(*) from PDM日志 where 方式=?"), {LogWord::ChangeGroupVolume});
    }
};

TEST_P(GroupVolume, TheFirstGroupGetsAVolumeWithALogRowAndItsSessionUsesItAtOnce) {
    ASSERT_TRUE(volumeOf(QStringLiteral("admin")).isNull()) << "a fresh office's admin group has none";
    const Outcome o = ChangeGroupVolume(s(), QStringLiteral("admin"), QStringLiteral("V2"));
    EXPECT_TRUE(o.done());
    EXPECT_EQ(o.text, QStringLiteral("组<admin>的存储目录已改为<V2>！"));
    EXPECT_EQ(o.icon, Icon::None);
    EXPECT_EQ(volumeOf(QStringLiteral("admin")).toString(), QStringLiteral("V2"));
    EXPECT_TRUE(volumeOf(QStringLiteral("user")).isNull()) << "only that group";
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where 方式=? and 代号='admin' and ID='admin'"),
                         {LogWord::ChangeGroupVolume}),
              1);
    EXPECT_EQ(s().ctx.VolumeName, QStringLiteral("V2"));
    EXPECT_EQ(s().ctx.VolumeServerIp, QStringLiteral("10.0.0.2"));

    // Another group's change leaves the session's own volume alone.
    env->addGroup(QStringLiteral("o'neil"), QStringLiteral("V2"));
    EXPECT_TRUE(ChangeGroupVolume(s(), QStringLiteral("o'neil"), QStringLiteral("V1")).done());
    EXPECT_EQ(volumeOf(QStringLiteral("o'neil")).toString(), QStringLiteral("V1"));
    EXPECT_EQ(s().ctx.VolumeName, QStringLiteral("V2"));
    EXPECT_EQ(logRows(), 2);
}

TEST_P(GroupVolume, UnknownGroupOrVolumeAndNonAdministratorsAreRefusedChangingNothing) {
    env->addGroup(QStringLiteral("design"), QStringLiteral("V1"));
    struct Case {
        QString group, volume, text;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("nobody"), QStringLiteral("V2"), QStringLiteral("组<nobody>不存在，可能已被删除！")},
        {QStringLiteral("design"), QStringLiteral("V9"), QStringLiteral("存储目录<V9>不存在，请先添加该存储目录！")},
        // Names are exact: neither a wildcard nor another letter case finds a row.
        {QStringLiteral("desig%"), QStringLiteral("V2"), QStringLiteral("组<desig%>不存在，可能已被删除！")},
        {QStringLiteral("design"), QStringLiteral("v2"), QStringLiteral("存储目录<v2>不存在，请先添加该存储目录！")},
        {QString(), QStringLiteral("V2"), QStringLiteral("请先选择欲更改存储目录的组")},
        {QStringLiteral("design"), QString(), QStringLiteral("请先选择存储目录")},
    };
    for (const Case& c : cases) {
        const Outcome o = ChangeGroupVolume(s(), c.group, c.volume);
        EXPECT_TRUE(o.refused()) << c.group.toStdString() << " " << c.volume.toStdString();
        EXPECT_EQ(o.text, c.text);
        EXPECT_EQ(o.icon, Icon::Stop);
        EXPECT_EQ(o.title, QStringLiteral("反馈信息"));
    }
    env->actAs(QStringLiteral("bob"), QStringLiteral("/design/"), QStringLiteral("design"));
    const Outcome o = ChangeGroupVolume(s(), QStringLiteral("design"), QStringLiteral("V2"));
    EXPECT_TRUE(o.refused());
    EXPECT_EQ(o.text, GateText::Administrator);
    EXPECT_EQ(volumeOf(QStringLiteral("design")).toString(), QStringLiteral("V1"));
    EXPECT_EQ(logRows(), 0);
}

// The menu command opens the group dialog with only what changing a volume needs.
class GroupVolumeDialog : public GroupVolume {
protected:
    void SetUp() override {
        GroupVolume::SetUp();
        if (!env)
            return;
        main = std::make_unique<FrmMain>(*env->session, ProgramForms());
        main->show();
    }
    void TearDown() override {
        main.reset();
        GroupVolume::TearDown();
    }
    QWidget& form() {
        QWidget* f = main->openForm(QStringLiteral("FrmGroup"));
        if (!f)
            throw MissingControl("FrmGroup is not open");
        return *f;
    }
    bool enabled(const char* name) { return child<QWidget>(form(), name)->isEnabled(); }
    std::unique_ptr<FrmMain> main;
};

TEST_P(GroupVolumeDialog, ChangeCommandPicksGroupAndVolumeAndReports) {
    main->RunCommand(QStringLiteral("GrpVolume"));
    for (const char* off : {"CmdAdd", "CmdDel", "TxtName", "TxtMemo"})
        EXPECT_FALSE(enabled(off)) << off;
    for (const char* on : {"LstGrp", "CboVolume", "CmdVolume", "CmdCancel"})
        EXPECT_TRUE(enabled(on)) << on;
    auto* button = child<QPushButton>(form(), "CmdVolume");
    EXPECT_EQ(button->text(), QStringLiteral("更改存储目录"));
    // With VELDA_SCREENSHOTS set to a folder, the form is kept there as a picture to look at.
    if (const QString folder = qEnvironmentVariable("VELDA_SCREENSHOTS"); !folder.isEmpty()) {
        QDir().mkpath(folder);
        form().grab().save(folder + QStringLiteral("/FrmGroup.png"));
    }

    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请先选择欲更改存储目录的组"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);

    env->addGroup(QStringLiteral("design"), QStringLiteral("V2"));
    main->RunCommand(QStringLiteral("GrpVolume")); // brought forward, not reloaded
    auto* list = child<QListWidget>(form(), "LstGrp");
    auto* volumes = child<QComboBox>(form(), "CboVolume");
    const auto admin = list->findItems(QStringLiteral("admin"), Qt::MatchExactly);
    ASSERT_EQ(admin.size(), 1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(admin.first()).center());
    volumes->setCurrentText(QStringLiteral("V2"));
    env->feedback.clear();
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("组<admin>的存储目录已改为<V2>！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));
    EXPECT_EQ(volumeOf(QStringLiteral("admin")).toString(), QStringLiteral("V2"));

    // Choosing a group shows the volume it has now.
    volumes->setCurrentText(QStringLiteral("V1"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(admin.first()).center());
    EXPECT_EQ(volumes->currentText(), QStringLiteral("V2"));
    EXPECT_EQ(env->feedback.boxes.size(), 1);
}

TEST_P(GroupVolumeDialog, AddAndDeleteCommandsKeepTheirControlsAndLeaveTheNewButtonOff) {
    main->RunCommand(QStringLiteral("AddGroup"));
    for (const char* off : {"CmdDel", "LstGrp", "CmdVolume"})
        EXPECT_FALSE(enabled(off)) << off;
    for (const char* on : {"CmdAdd", "TxtName", "CboVolume", "TxtMemo", "CmdCancel"})
        EXPECT_TRUE(enabled(on)) << on;
    QTest::mouseClick(child<QPushButton>(form(), "CmdCancel"), Qt::LeftButton);
    QApplication::processEvents();

    main->RunCommand(QStringLiteral("DelGroup"));
    for (const char* off : {"CmdAdd", "TxtName", "CboVolume", "TxtMemo", "CmdVolume"})
        EXPECT_FALSE(enabled(off)) << off;
    for (const char* on : {"CmdDel", "LstGrp", "CmdCancel"})
        EXPECT_TRUE(enabled(on)) << on;
    // Choosing a group to delete leaves the disabled volume box as it was.
    env->db().exec(QStringLiteral("update PDM组 set 目录名称='V2' where 组名='admin'"));
    auto* volumes = child<QComboBox>(form(), "CboVolume");
    auto* list = child<QListWidget>(form(), "LstGrp");
    const auto admin = list->findItems(QStringLiteral("admin"), Qt::MatchExactly);
    ASSERT_EQ(admin.size(), 1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(admin.first()).center());
    EXPECT_EQ(volumes->currentText(), QStringLiteral("V1"));
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Db, GroupVolume, kBothBackends, BackendName);
INSTANTIATE_TEST_SUITE_P(Db, GroupVolumeDialog, kBothBackends, BackendName);
