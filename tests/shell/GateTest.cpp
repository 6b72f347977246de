#include "TestSupport.h"

#include "accounts/AdminRecord.h"
#include "shell/CommandTable.h"

#include <map>

using namespace velda;
using namespace velda::test;

namespace {
// IMP: an administrator, or a user where the office allows importing records.
enum G { FS, AD, AR, CODE, IMP };

// The gates of every command in the order it applies them, written out from the office's
// command list rather than from the table under test.
const std::map<QString, std::vector<G>>& expectedGates() {
    static const std::map<QString, std::vector<G>> table = {
        {QStringLiteral("MultiInlib"), {FS, AR}},
        {QStringLiteral("InLibDrawing"), {FS, AR}},
        {QStringLiteral("OutLibByDrawing"), {FS, AR}},
        {QStringLiteral("OutLibByPart"), {FS, AR}},
        {QStringLiteral("OutLibDrawing"), {FS, AR}},
        {QStringLiteral("DelLibDrawing"), {FS, AR}},
        {QStringLiteral("AddItemInfo"), {}},
        {QStringLiteral("SeekItemInfoByDrawing"), {AR}},
        {QStringLiteral("SeekItemInfoByPart"), {AR}},
        {QStringLiteral("DelItemInfo"), {}},
        {QStringLiteral("ImportItemInfo"), {IMP}},
        {QStringLiteral("AddNonLocalItem"), {}},
        {QStringLiteral("SeekItemNonLocal"), {CODE}},
        {QStringLiteral("DelNonLocalItem"), {}},
        {QStringLiteral("ExitSys"), {}},
        {QStringLiteral("AddArchives"), {}},
        {QStringLiteral("SeekArchives"), {}},
        {QStringLiteral("DelArchives"), {}},
        {QStringLiteral("AddPSE"), {}},
        {QStringLiteral("ReadPSEFromLib"), {}},
        {QStringLiteral("RptPSE"), {}},
        {QStringLiteral("AdminAcount"), {FS, AD}},
        {QStringLiteral("ChangerUserID"), {}},
        {QStringLiteral("AddUser"), {AD}},
        {QStringLiteral("DelUser"), {AD}},
        {QStringLiteral("EditUser"), {}},
        {QStringLiteral("AddGroup"), {AD}},
        {QStringLiteral("DelGroup"), {AD}},
        {QStringLiteral("GrpMember"), {AD}},
        {QStringLiteral("GrpVolume"), {AD}},
        {QStringLiteral("HeldDrawings"), {}},
        {QStringLiteral("DrawingHistory"), {FS, AR}},
        {QStringLiteral("DeletedDrawings"), {FS, AD, AR}},
        {QStringLiteral("VolumeCheck"), {FS, AD, AR}},
        {QStringLiteral("AddVolume"), {FS, AD, AR}},
        {QStringLiteral("DelVolume"), {FS, AD, AR}},
        {QStringLiteral("Log"), {AD}},
        {QStringLiteral("OnlineHelp"), {}},
        {QStringLiteral("AboutVELDA"), {}},
    };
    return table;
}

struct Expected {
    QString text;
    QString title;
};
Expected messageOf(G g) {
    switch (g) {
    case FS:
        return {QStringLiteral("此功能需要FTP支持，请正确设置"), QStringLiteral("信息反馈")};
    case AD:
        return {QStringLiteral("您权限不够，只有admin组的用户才能进行此项操作"), QStringLiteral("反馈信息")};
    case AR:
        return {QStringLiteral("缺乏管理员信息，请先进行<系统管理/记录管理员信息>操作！"), QStringLiteral("反馈信息")};
    case CODE:
        return {QStringLiteral("借用件代号输入有误！"), QStringLiteral("反馈信息")};
    case IMP:
        return {QStringLiteral("您权限不够，只有admin组的用户才能导入零件信息（管理员可在导入窗口中允许普通用户导入）"),
                QStringLiteral("反馈信息")};
    }
    return {};
}
} // namespace

TEST(CommandTable, CoversEveryMenuCommandOnce) {
    std::set<QString> inTable;
    for (const Command& c : Commands())
        EXPECT_TRUE(inTable.insert(c.item).second) << c.item.toStdString();
    EXPECT_EQ(inTable.size(), expectedGates().size());
    for (const auto& [item, gates] : expectedGates())
        EXPECT_TRUE(FindCommand(item)) << item.toStdString();
}

class Gates : public BothDatabases {
protected:
    // Makes gates before `failing` pass and gate `failing` fail (none fails when out of range).
    void arrange(const std::vector<G>& gates, size_t failing) {
        auto passes = [&](G g) {
            for (size_t i = 0; i < gates.size(); ++i)
                if (gates[i] == g)
                    return i < failing;
            return true;
        };
        const Configuration& config = env->session->config();
        config.StoreServerAddress(passes(FS) ? QStringLiteral("10.0.0.9") : QStringLiteral("None"));
        env->session->ctx.UserGroups = passes(AD) && passes(IMP) ? QStringLiteral("/admin/user/") : QStringLiteral("/user/");
        env->db().exec(QStringLiteral("delete from PDM系统管理员信息"));
        if (passes(AR))
            WriteAdminPassword(env->db(), env->session->machineSerialHex(), QStringLiteral("ftppw"));
        env->feedback.inputAnswers.clear();
        env->feedback.inputAnswers.push_back(passes(CODE) ? QStringLiteral("ab-1") : QStringLiteral("ab1"));
        env->feedback.clear();
    }
};

TEST_P(Gates, EachCommandStopsAtItsFirstFailingGateInOrder) {
    for (const auto& [item, gates] : expectedGates()) {
        const Command* command = FindCommand(item);
        ASSERT_TRUE(command);
        for (size_t failing = 0; failing <= gates.size(); ++failing) {
            arrange(gates, failing);
            // Shown as the main window shows it, so the box is the one the user sees.
            const bool passed = ShowOutcome(env->feedback, PassGates(*env->session, *command));
            if (failing < gates.size()) {
                EXPECT_FALSE(passed) << item.toStdString() << " gate " << failing;
                ASSERT_EQ(env->feedback.boxes.size(), 1) << item.toStdString();
                const Expected want = messageOf(gates[failing]);
                EXPECT_EQ(env->feedback.last().text, want.text) << item.toStdString();
                EXPECT_EQ(env->feedback.last().title, want.title) << item.toStdString();
                EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
            } else {
                EXPECT_TRUE(passed) << item.toStdString();
                EXPECT_TRUE(env->feedback.boxes.isEmpty()) << item.toStdString();
            }
        }
    }
}

TEST_P(Gates, GatesKeepWhatTheyReadAndTheCodeIsUpperCased) {
    const Command* inLib = FindCommand(QStringLiteral("InLibDrawing"));
    arrange({FS, AR}, 1); // file server passes, record missing
    EXPECT_FALSE(PassGates(*env->session, *inLib).done());
    EXPECT_EQ(env->session->ctx.ServerAddress, QStringLiteral("10.0.0.9"));
    EXPECT_TRUE(env->session->ctx.AdminPassword.isEmpty());
    arrange({FS, AR}, 2);
    EXPECT_TRUE(PassGates(*env->session, *inLib).done());
    EXPECT_EQ(env->session->ctx.AdminPassword, QStringLiteral("ftppw"));

    const Command* seek = FindCommand(QStringLiteral("SeekItemNonLocal"));
    env->feedback.inputAnswers = {QStringLiteral("ab-1")};
    EXPECT_TRUE(PassGates(*env->session, *seek).done());
    EXPECT_EQ(env->session->ctx.BorrowedCode, QStringLiteral("AB-1"));
    EXPECT_EQ(env->feedback.prompts.last(), QStringLiteral("请输入借用件代号：|借用件代号"));
    env->feedback.inputAnswers = {std::nullopt};
    EXPECT_FALSE(PassGates(*env->session, *seek).done());
    EXPECT_TRUE(env->session->ctx.BorrowedCode.isEmpty());
}

TEST_P(Gates, AdministratorTestIsAnExactSubstring) {
    const Command* log = FindCommand(QStringLiteral("Log"));
    env->session->ctx.UserGroups = QStringLiteral("/administrators/");
    EXPECT_FALSE(PassGates(*env->session, *log).done());
    env->session->ctx.UserGroups = QStringLiteral("/Admin/");
    EXPECT_FALSE(PassGates(*env->session, *log).done());
    env->session->ctx.UserGroups = QStringLiteral("/user/admin/");
    EXPECT_TRUE(PassGates(*env->session, *log).done());
}

TEST_P(Gates, RecordOfThisMachineIsNotAnotherMachines) {
    WriteAdminPassword(env->db(), env->session->machineSerialHex(), QStringLiteral("ftppw"));
    env->session->config().StoreServerAddress(QStringLiteral("10.0.0.9"));
    RecordingFeedback otherFeedback;
    auto other = env->otherSession(otherFeedback, QStringLiteral("FFFFFFFF"));
    const Command* multi = FindCommand(QStringLiteral("MultiInlib"));
    EXPECT_TRUE(PassGates(*env->session, *multi).done());
    EXPECT_FALSE(ShowOutcome(otherFeedback, PassGates(*other, *multi)));
    ASSERT_EQ(otherFeedback.boxes.size(), 1);
    EXPECT_EQ(otherFeedback.last().text, messageOf(AR).text);
}

TEST_P(Gates, EffectsSetTheModeWords) {
    UserContext& ctx = env->session->ctx;
    ctx.PendingRead = QStringLiteral("/a/");
    ctx.PendingWrite = QStringLiteral("/a/");
    ctx.PendingDelete = QStringLiteral("/a/");
    ctx.PendingChange = QStringLiteral("/a/");
    ApplyEffect(*env->session, *FindCommand(QStringLiteral("InLibDrawing")));
    EXPECT_TRUE(ctx.PendingRead.isEmpty() && ctx.PendingWrite.isEmpty() && ctx.PendingDelete.isEmpty() &&
                ctx.PendingChange.isEmpty());
    const std::vector<std::pair<const char*, std::pair<QString UserContext::*, const char*>>> cases = {
        {"OutLibByDrawing", {&UserContext::SeekMode, "ByDrawing"}},
        {"OutLibByPart", {&UserContext::SeekMode, "ByPart"}},
        {"SeekItemInfoByDrawing", {&UserContext::SeekMode, "ByDrawing"}},
        {"SeekItemInfoByPart", {&UserContext::SeekMode, "ByPart"}},
        {"AddArchives", {&UserContext::ArchiveMode, "Add"}},
        {"SeekArchives", {&UserContext::ArchiveMode, "Edit"}},
        {"DelArchives", {&UserContext::ArchiveMode, "Del"}},
        {"AddPSE", {&UserContext::ProductMode, "Add"}},
        {"ReadPSEFromLib", {&UserContext::ProductMode, "View"}},
        {"RptPSE", {&UserContext::ProductMode, "Print"}},
        {"AddUser", {&UserContext::FormMode, "Add"}},
        {"DelUser", {&UserContext::FormMode, "Del"}},
        {"EditUser", {&UserContext::FormMode, "Edit"}},
    };
    for (const auto& [item, field] : cases) {
        ApplyEffect(*env->session, *FindCommand(QString::fromLatin1(item)));
        EXPECT_EQ(ctx.*(field.first), QString::fromLatin1(field.second)) << item;
    }
    EXPECT_FALSE(ctx.ReLogin);
    ApplyEffect(*env->session, *FindCommand(QStringLiteral("ChangerUserID")));
    EXPECT_TRUE(ctx.ReLogin);
}

INSTANTIATE_TEST_SUITE_P(Db, Gates, kBothBackends, BackendName);
