#include "TestSupport.h"

#include "accounts/ui/FrmUser.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>

using namespace velda;
using namespace velda::test;

class UserLayout : public BothDatabases {};

// Every label sits beside its box, however tall the group list makes the form.
TEST_P(UserLayout, EachLabelIsLevelWithItsBox) {
    env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/user/"), QStringLiteral("admin"));
    env->session->ctx.FormMode = QStringLiteral("Add");
    FrmUser f(*env->session);
    f.show();
    QApplication::processEvents();
    const QString folder = qEnvironmentVariable("VELDA_SCREENSHOTS");
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        f.grab().save(folder + QStringLiteral("/FrmUser.png"));
    }
    for (const auto& [label, box] :
         {std::pair{"Label2", "TxtPwd"}, std::pair{"Label3", "TxtPwdII"}, std::pair{"Label5", "TxtMemo"}}) {
        const QRect l = child<QLabel>(f, label)->geometry();
        const QRect b = child<QLineEdit>(f, box)->geometry();
        EXPECT_LE(std::abs(l.center().y() - b.center().y()), 4) << label << " beside " << box;
    }
}

INSTANTIATE_TEST_SUITE_P(Db, UserLayout, kBothBackends, BackendName);
