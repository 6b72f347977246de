#include "TestSupport.h"

#include "core/ActivityLog.h"
#include "core/CodePage.h"
#include "core/GateText.h"
#include "core/OfficeSettings.h"
#include "items/ui/FrmImportItemInfo.h"
#include "shell/CommandTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

using namespace velda;
using namespace velda::test;

class ImportWindow : public BothDatabases {
protected:
    QString file(const QString& name, const QString& text) {
        const QString path = env->dir.path() + QLatin1Char('/') + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
        return path;
    }
    std::unique_ptr<FrmImportItemInfo> open(const QString& path) {
        auto f = std::make_unique<FrmImportItemInfo>(*env->session);
        f->show();
        env->feedback.fileAnswers.push_back(path);
        click(*f, "CmdBrowse");
        return f;
    }
    static void click(QWidget& f, const char* name) { QTest::mouseClick(child<QPushButton>(f, name), Qt::LeftButton); }
    // The dry run and the import run off the window: the click returns at once, and the work ends later.
    static void clickAndWait(FrmImportItemInfo& f, const char* name) {
        QSignalSpy finished(&f, &FrmImportItemInfo::workFinished);
        click(f, name);
        EXPECT_TRUE(f.isRunning());
        ASSERT_TRUE(finished.wait(60000));
    }
    static QComboBox* fieldBox(QWidget& f, int which) {
        return child<QComboBox>(f, QStringLiteral("CboField%1").arg(which).toLatin1().constData());
    }
};

TEST_P(ImportWindow, MapsTheFileDryRunsImportsAndReportsRememberingTheMapping) {
    env->session->ctx.UserId = QStringLiteral("alice");
    env->session->ctx.UserGroups = QStringLiteral("/admin/");
    const QString path =
        file(QStringLiteral("list.csv"), QStringLiteral("图号,品名,比例,备注\na-1,轴,1:1,X\nA-2,,1:1,Y\n"));
    auto f = open(path);
    EXPECT_EQ(fieldBox(*f, FieldCode)->currentText(), QStringLiteral("A：图号"));
    EXPECT_EQ(fieldBox(*f, FieldName)->currentIndex(), 2);
    EXPECT_EQ(fieldBox(*f, FieldCoding)->currentText(), QStringLiteral("（不导入）"));
    fieldBox(*f, FieldCoding)->setCurrentIndex(4);
    clickAndWait(*f, "CmdDryRun");
    auto* plan = child<QTableWidget>(*f, "TblPlan");
    ASSERT_EQ(plan->rowCount(), 2);
    EXPECT_EQ(plan->item(0, 2)->text(), QStringLiteral("新增"));
    EXPECT_EQ(plan->item(1, 3)->text(), QStringLiteral("名称为空"));
    EXPECT_EQ(child<QLabel>(*f, "LblCounts")->text(), QStringLiteral("新增1条，修改0条，不变0条，拒绝1行"));
    EXPECT_EQ(rows(QStringLiteral("零件信息")), 0);

    clickAndWait(*f, "CmdImport");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("导入完成：新增1条，修改0条，不变0条，拒绝1行"));
    EXPECT_EQ(field(QStringLiteral("图纸信息"), QStringLiteral("编码"), QStringLiteral("代号"), QStringLiteral("A-1")),
              QStringLiteral("X"));
    EXPECT_EQ(plan->item(0, 2)->text(), QStringLiteral("已添加"));
    EXPECT_FALSE(child<QPushButton>(*f, "CmdStop")->isEnabled());

    const QString report = env->dir.path() + QStringLiteral("/report.csv");
    env->feedback.fileAnswers.push_back(report);
    click(*f, "CmdReport");
    QFile written(report);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(written.readAll()).contains(QStringLiteral("2,A-1,已添加,")));

    // The account's choice of column comes back with the next file that has it.
    f = open(path);
    EXPECT_EQ(fieldBox(*f, FieldCoding)->currentText(), QStringLiteral("D：备注"));

    // A file of another encoding is read as its own, not as the last file's.
    const QString gbk = env->dir.path() + QStringLiteral("/gbk.csv");
    QFile g(gbk);
    ASSERT_TRUE(g.open(QIODevice::WriteOnly));
    g.write(ToAnsi(QStringLiteral("代号,名称\nB-1,垫圈\n")));
    g.close();
    EXPECT_EQ(child<QComboBox>(*f, "CboEncoding")->currentText(), QStringLiteral("UTF-8"));
    const auto shown = env->feedback.boxes.size();
    env->feedback.fileAnswers.push_back(gbk);
    click(*f, "CmdBrowse");
    EXPECT_EQ(env->feedback.boxes.size(), shown);
    EXPECT_EQ(child<QComboBox>(*f, "CboEncoding")->currentText(), QStringLiteral("GBK"));

    // The administrator lets the users import; the menu's gate follows the office setting.
    const Command& command = *FindCommand(QStringLiteral("ImportItemInfo"));
    child<QCheckBox>(*f, "ChkUsersMayImport")->click();
    env->session->ctx.UserGroups = QStringLiteral("/user/");
    EXPECT_TRUE(PassGates(*env->session, command).done());
    OfficeSettings(env->db()).setFlag(kSettingUsersMayImport, false);
    EXPECT_EQ(PassGates(*env->session, command).text, GateText::RecordImport);
}

INSTANTIATE_TEST_SUITE_P(Both, ImportWindow, kBothBackends, BackendName);

TEST_P(ImportWindow, StopEndsTheImportAfterTheRecordsItFinished) {
    env->session->ctx.UserId = QStringLiteral("alice");
    env->session->ctx.UserGroups = QStringLiteral("/admin/");
    QString text = QStringLiteral("代号,名称,比例\n");
    for (int i = 0; i < 3000; ++i)
        text += QStringLiteral("S-%1,轴,1:1\n").arg(i);
    auto f = open(file(QStringLiteral("long.csv"), text));
    clickAndWait(*f, "CmdDryRun");
    EXPECT_EQ(child<QLabel>(*f, "LblCounts")->text(), QStringLiteral("新增3000条，修改0条，不变0条，拒绝0行"));

    QSignalSpy finished(f.get(), &FrmImportItemInfo::workFinished);
    click(*f, "CmdImport");
    EXPECT_TRUE(child<QPushButton>(*f, "CmdStop")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*f, "CmdImport")->isEnabled());
    // Another command meanwhile is refused, as under any command that runs.
    EXPECT_FALSE(CommandGuard(*env->session, QStringLiteral("其他")).acquired());
    click(*f, "CmdStop");
    ASSERT_TRUE(finished.wait(60000));
    const int stored = rows(QStringLiteral("零件信息"));
    EXPECT_LT(stored, 3000);
    EXPECT_EQ(logRows(LogWord::AddItemInfo), stored);
    EXPECT_TRUE(env->feedback.last().text.startsWith(
        QStringLiteral("导入已停止：已完成%1条，其余%2条未导入").arg(stored).arg(3000 - stored)))
        << env->feedback.last().text.toStdString();
    EXPECT_FALSE(f->isRunning());
    EXPECT_TRUE(child<QPushButton>(*f, "CmdImport")->isEnabled());
}
