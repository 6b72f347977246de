#include "LibraryFixture.h"

#include "library/Holds.h"
#include "library/VolumeCheck.h"
#include "library/ui/FrmHeldDrawings.h"
#include "library/ui/FrmVolumeCheck.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

using namespace velda;
using namespace velda::test;

namespace {

class LibraryCareDialog : public LibraryTest {
protected:
    void press(QWidget& form, const char* name) { QTest::mouseClick(child<QPushButton>(form, name), Qt::LeftButton); }
    static QStringList column(QTableWidget* t, int c) {
        QStringList out;
        for (int r = 0; r < t->rowCount(); ++r)
            out << (t->item(r, c) ? t->item(r, c)->text() : QString());
        return out;
    }
};

TEST_P(LibraryCareDialog, HeldDrawingsListFiltersAndReleasesAfterTheQuestion) {
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("A-1"), "a").done());
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("B-2"), "b").done());
    ASSERT_TRUE(library().CheckOut(QStringLiteral("B-2"), drawing(QStringLiteral("b.dwg"), "")).done());
    loginAs(QStringLiteral("bob"), QStringLiteral("design"));
    ASSERT_TRUE(library().CheckOut(QStringLiteral("A-1"), drawing(QStringLiteral("a.dwg"), "")).done());
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    env->feedback.clear();

    FrmHeldDrawings f(*env->session);
    f.show();
    auto* list = child<QTableWidget>(f, "LstHeld");
    EXPECT_EQ(f.windowTitle(), QStringLiteral("出库图纸一览"));
    EXPECT_EQ(column(list, 0), (QStringList{QStringLiteral("A-1"), QStringLiteral("B-2")}));
    EXPECT_EQ(column(list, 1), (QStringList{QStringLiteral("bob"), QStringLiteral("admin")}));
    EXPECT_EQ(child<QLabel>(f, "LblCount")->text(), QStringLiteral("共2份图纸处于出库状态"));

    // Nothing chosen.
    press(f, "CmdRelease");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请先选中欲撤销出库的图纸！"));

    // Only bob's holds.
    auto* holder = child<QComboBox>(f, "CboHolder");
    ASSERT_EQ(holder->findText(QStringLiteral("bob")), 2);
    holder->setCurrentIndex(2);
    emit holder->activated(2);
    EXPECT_EQ(column(list, 0), QStringList{QStringLiteral("A-1")});

    // Refusing the question changes nothing; agreeing releases and the list follows.
    list->selectRow(0);
    env->feedback.questionAnswers = {false};
    press(f, "CmdRelease");
    ASSERT_EQ(env->feedback.questions.size(), 1);
    EXPECT_TRUE(env->feedback.questions.last().text.contains(QStringLiteral("bob")));
    EXPECT_EQ(checkouts(QStringLiteral("A-1")), 1);
    list->selectRow(0);
    env->feedback.questionAnswers = {true};
    press(f, "CmdRelease");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("图纸<A-1>的出库已撤销！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_EQ(checkouts(QStringLiteral("A-1")), 0);
    // bob holds nothing now: the filter falls back to everyone.
    EXPECT_EQ(holder->currentIndex(), 0);
    EXPECT_EQ(column(list, 0), QStringList{QStringLiteral("B-2")});
}

TEST_P(LibraryCareDialog, VolumeCheckListsCountsAndCleansAfterTheQuestion) {
    env->clock.set(QDateTime::currentDateTime());
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("A-1"), "a").done());
    const QString old = ftp->localPath(QStringLiteral("Volume/V1/.x.dwg.ab.part"));
    {
        QFile part(old);
        ASSERT_TRUE(part.open(QIODevice::WriteOnly));
        part.write("p");
        part.flush();
        ASSERT_TRUE(part.setFileTime(QDateTime::currentDateTime().addSecs(-7200), QFileDevice::FileModificationTime));
    }
    env->feedback.clear();
    FrmVolumeCheck f(*env->session);
    f.show();
    auto* volume = child<QComboBox>(f, "CboVolume");
    EXPECT_EQ(volume->itemText(0), QStringLiteral("全部存储目录"));
    EXPECT_EQ(volume->count(), 3);

    press(f, "CmdClean");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请先进行存储目录检查！"));

    press(f, "CmdCheck");
    EXPECT_TRUE(env->feedback.boxes.size() == 1) << env->feedback.texts().join(u'|').toStdString();
    auto* list = child<QTableWidget>(f, "LstResult");
    EXPECT_EQ(column(list, 0), QStringList{QStringLiteral("遗留文件")});
    EXPECT_EQ(column(list, 3), QStringList{QStringLiteral(".x.dwg.ab.part")});
    EXPECT_EQ(child<QProgressBar>(f, "PrgCheck")->value(), 2);
    EXPECT_TRUE(child<QLabel>(f, "LblCount")->text().endsWith(QStringLiteral("缺失文件0个，孤立文件0个，遗留文件1个")));
    EXPECT_TRUE(child<QPushButton>(f, "CmdCheck")->isEnabled());

    env->feedback.questionAnswers = {true};
    press(f, "CmdClean");
    ASSERT_EQ(env->feedback.questions.size(), 1);
    EXPECT_TRUE(env->feedback.questions.last().text.contains(QStringLiteral("1个超过一小时的遗留文件")));
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("清理完毕：删除遗留文件1个。"));
    EXPECT_FALSE(QFile::exists(old));
    EXPECT_EQ(list->rowCount(), 0);

    press(f, "CmdMoveOrphans");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("没有孤立文件需要移动！"));

    const QString out = env->dir.path() + QStringLiteral("/list.txt");
    env->feedback.fileAnswers = {out};
    press(f, "CmdExport");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("导出完毕！"));
    EXPECT_TRUE(QFile::exists(out));
}

INSTANTIATE_TEST_SUITE_P(Db, LibraryCareDialog, kBothBackends, BackendName);

} // namespace
