#include "LibraryFixture.h"

#include "core/Condition.h"
#include "library/ui/FrmMultiOutLib.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace velda;
using namespace velda::test;

class MultiOutLibMode : public LibraryTest {};

// Opened for drawing records, then the part-record command is chosen while it is open: the search
// must run over the part records.
TEST_P(MultiOutLibMode, TheSearchUsesTheModeOfTheMomentItRuns) {
    env->db().exec(QStringLiteral("insert into 零件信息 (代号, 名称) values ('P-1', '轴')"));
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("P-1"), "p1").done());
    env->session->ctx.SeekMode = QStringLiteral("ByDrawing");
    FrmMultiOutLib f(*env->session);
    f.show();
    env->session->ctx.SeekMode = QStringLiteral("ByPart");

    child<QComboBox>(f, "CboAttr")->setCurrentText(QStringLiteral("代号"));
    child<QComboBox>(f, "CboSym")->setCurrentText(QStringLiteral("="));
    child<QLineEdit>(f, "TxtAttr")->setText(QStringLiteral("P-1"));
    QTest::mouseClick(child<QPushButton>(f, "CmdAdd"), Qt::LeftButton);
    const QString out = env->dir.path() + QStringLiteral("/out");
    QDir().mkpath(out);
    f.selectFolder(out);
    env->feedback.clear();
    QTest::mouseClick(child<QPushButton>(f, "CmdOutLib"), Qt::LeftButton);
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("出库完成，共需出库图纸1张，有效出库数量为：1张！"));
    EXPECT_EQ(read(out + QStringLiteral("/P-1.dwg")), QByteArray("p1"));

    // And back: no drawing record has that code, so nothing is found this time.
    env->session->ctx.SeekMode = QStringLiteral("ByDrawing");
    env->feedback.clear();
    QTest::mouseClick(child<QPushButton>(f, "CmdOutLib"), Qt::LeftButton);
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, ConditionText::NoRows);
}

INSTANTIATE_TEST_SUITE_P(Db, MultiOutLibMode, kBothBackends, BackendName);
