#include "TestSupport.h"

#include "core/ui/ConditionPanel.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace velda;
using namespace velda::test;

class ConditionPanelForm : public BothDatabases {
protected:
    std::unique_ptr<ConditionPanel> open(const ConditionConfig& config) {
        auto p = std::make_unique<ConditionPanel>();
        p->configure(*env->session, config);
        p->show();
        return p;
    }
    template <typename T> T* child(QWidget& w, const char* name) {
        T* c = w.findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(c) << name;
        return c;
    }
    QStringList items(QWidget& p, const char* box) {
        QStringList out;
        for (auto* b = child<QComboBox>(p, box); out.size() < b->count();)
            out << b->itemText(out.size());
        return out;
    }
    QString cond(QWidget& p) { return child<QLineEdit>(p, "TxtCond")->text(); }
    void click(QWidget& p, const char* name) { QTest::mouseClick(child<QAbstractButton>(p, name), Qt::LeftButton); }
    // Key presses carrying the typed text; QTest's own helpers know ASCII keys only.
    static void type(QWidget* target, const QString& text) {
        for (const QChar c : text) {
            const auto key = c.unicode() < 128 ? QTest::asciiToKey(char(c.unicode())) : Qt::Key_unknown;
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
            QApplication::sendEvent(target, &press);
        }
    }
    void compose(QWidget& p, const QString& attr, const QString& sym, const QString& value) {
        for (const char* box : {"CboAttr", "CboSym"}) {
            QLineEdit* edit = child<QComboBox>(p, box)->lineEdit();
            edit->selectAll();
            type(edit, box[3] == 'A' ? attr : sym);
        }
        child<QLineEdit>(p, "TxtAttr")->clear();
        type(child<QLineEdit>(p, "TxtAttr"), value);
        click(p, "CmdAdd");
    }
};

TEST_P(ConditionPanelForm, LoadOffersTheTableColumnsAndTheSixComparisonWords) {
    auto p = open(ConditionConfig::itemSearch(QStringLiteral("ByDrawing")));
    EXPECT_EQ(p->title(), QStringLiteral("查询条件"));
    EXPECT_EQ(items(*p, "CboSym"), ComparisonWords());
    EXPECT_EQ(child<QComboBox>(*p, "CboSym")->currentText(), QStringLiteral(">"));
    EXPECT_EQ(items(*p, "CboAttr"),
              QStringLiteral("代号 设计 校对 主管设计 审定 标准审查 工艺审查 日期 比例 编码 幅面 页数 图样 页码")
                  .split(QLatin1Char(' ')));
    EXPECT_EQ(child<QComboBox>(*p, "CboAttr")->currentText(), QStringLiteral("代号"));
    EXPECT_FALSE(child<QLabel>(*p, "LblNum")->isVisible());

    auto log = open(ConditionConfig::activityLog());
    EXPECT_EQ(log->title(), QStringLiteral("检索条件"));
    EXPECT_EQ(items(*log, "CboAttr"), (QStringList{QStringLiteral("ID"), QStringLiteral("代号"), QStringLiteral("时间"),
                                                   QStringLiteral("方式")}));
    // A word typed into the comparison box is used, never added as a seventh entry.
    type(child<QComboBox>(*log, "CboSym")->lineEdit(), QStringLiteral("<>\r"));
    EXPECT_EQ(items(*log, "CboSym").size(), 6);
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
}

TEST_P(ConditionPanelForm, ClausesAndJoiningWordsAccumulateAndClear) {
    auto p = open(ConditionConfig::batchCheckOut(QStringLiteral("ByPart")));
    EXPECT_EQ(p->title(), QStringLiteral("出库条件"));
    compose(*p, QStringLiteral("名称"), QStringLiteral("包含"), QStringLiteral("轴"));
    for (const char* opt : {"OptAnd", "OptAnd", "OptOr", "OptNot"}) {
        click(*p, opt);
        EXPECT_FALSE(child<QRadioButton>(*p, opt)->isChecked()) << opt;
    }
    compose(*p, QStringLiteral("代号"), QStringLiteral("="), QStringLiteral("  "));
    compose(*p, QStringLiteral("重量"), QStringLiteral("<>"), QStringLiteral(" 1 "));
    EXPECT_EQ(cond(*p), QStringLiteral("名称 like  '%轴%' escape '\\' And And Or Not 代号 is NULL 重量 <> ' 1 ' "));
    click(*p, "CmdClear");
    EXPECT_EQ(cond(*p), QString());
    EXPECT_FALSE(p->run());
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请先输入查询条件！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_EQ(env->feedback.last().title, QString());
}

TEST_P(ConditionPanelForm, ValueLettersBecomeCapitalsOnlyWhereConfigured) {
    auto item = open(ConditionConfig::itemSearch(QStringLiteral("ByDrawing")));
    QTest::keyClicks(child<QLineEdit>(*item, "TxtAttr"), QStringLiteral("gb/t-12ab Z"));
    EXPECT_EQ(child<QLineEdit>(*item, "TxtAttr")->text(), QStringLiteral("GB/T-12AB Z"));
    auto log = open(ConditionConfig::activityLog());
    QTest::keyClicks(child<QLineEdit>(*log, "TxtAttr"), QStringLiteral("alice Bob"));
    EXPECT_EQ(child<QLineEdit>(*log, "TxtAttr")->text(), QStringLiteral("alice Bob"));
}

TEST_P(ConditionPanelForm, RunReturnsTheRowsAndTheCountIsShownAndCleared) {
    for (const char* code : {"B-2", "A-1", "C-3"})
        env->db().exec(QStringLiteral("insert into 零件信息 (代号, 名称) values (?, ?)"),
                       {QString::fromLatin1(code), code[0] == 'C' ? QStringLiteral("齿轮") : QStringLiteral("长轴")});
    auto p = open(ConditionConfig::itemSearch(QStringLiteral("ByPart")));
    auto* count = child<QLabel>(*p, "LblNum");
    compose(*p, QStringLiteral("名称"), QStringLiteral("包含"), QStringLiteral("轴"));
    int emptied = 0;
    const auto found = p->run([&] { ++emptied; });
    ASSERT_TRUE(found);
    EXPECT_EQ(emptied, 1);
    ASSERT_EQ(found->count(), 2);
    EXPECT_EQ(found->text(0, QStringLiteral("代号")) + found->text(1, QStringLiteral("代号")),
              QStringLiteral("A-1B-2"));
    p->setCount(found->count());
    EXPECT_EQ(count->text(), QStringLiteral("共2条记录"));
    EXPECT_TRUE(count->isVisible());

    click(*p, "OptAnd");
    compose(*p, QStringLiteral("代号"), QStringLiteral("="), QStringLiteral("z"));
    EXPECT_TRUE(cond(*p).endsWith(QStringLiteral("And 代号 = 'Z' ")));
    EXPECT_FALSE(p->run());
    EXPECT_EQ(count->text(), QString());
    EXPECT_EQ(env->feedback.texts(), QStringList{QStringLiteral("库中不存在符合查询条件的记录")});
}

TEST_P(ConditionPanelForm, TypedStatementsAreRefusedAndTheTextStays) {
    auto p = open(ConditionConfig::activityLog());
    const QString typed = QStringLiteral("ID = 'x'; delete from PDM用户");
    type(child<QLineEdit>(*p, "TxtCond"), typed);
    int emptied = 0;
    EXPECT_FALSE(p->run([&] { ++emptied; }));
    EXPECT_EQ(emptied, 0);
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("查询条件中含有不允许的内容：; delete from PDM用户"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));
    EXPECT_EQ(cond(*p), typed);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM用户")), 1);
}

INSTANTIATE_TEST_SUITE_P(Db, ConditionPanelForm, kBothBackends, BackendName);
