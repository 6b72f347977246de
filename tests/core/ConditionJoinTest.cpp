#include "TestSupport.h"

#include "core/Condition.h"

#include <QSqlQuery>

using namespace velda;
using namespace velda::test;

namespace {

// A condition typed by hand, not built by the panel, has no blank at its end.
class ConditionJoin : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->db().exec(QStringLiteral("insert into 零件信息 (代号, 名称, 重量) values ('P2', '轴', '2')"));
        env->db().exec(QStringLiteral("insert into 零件信息 (代号, 名称, 重量) values ('P1', '套', '1')"));
    }
    QStringList codes(const QString& text) {
        env->feedback.clear();
        QStringList out;
        FoundRows found;
        // Shown as the dialogs show it, so the boxes are the ones the user sees.
        if (ShowOutcome(
                env->feedback,
                RunConditionSearch(*env->session, ConditionConfig::itemSearch(QStringLiteral("ByPart")), text, found)))
            for (int i = 0; i < found.count(); ++i)
                out << found.text(i, QStringLiteral("代号"));
        return out;
    }
};

TEST_P(ConditionJoin, ATextEndingInADigitOrAWordIsJoinedToTheOrderWithABlank) {
    EXPECT_EQ(codes(QStringLiteral("代号 = 'P9' Or 1 = 1")), (QStringList{QStringLiteral("P1"), QStringLiteral("P2")}))
        << env->feedback.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(codes(QStringLiteral("代号 = 代号")), (QStringList{QStringLiteral("P1"), QStringLiteral("P2")}))
        << env->feedback.texts().join(QLatin1Char('|')).toStdString();
    // The panel's own texts end with a blank and keep the order as they had it.
    EXPECT_EQ(codes(QStringLiteral("名称 = '轴' ")), QStringList{QStringLiteral("P2")});
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Db, ConditionJoin, kBothBackends, BackendName);

} // namespace
