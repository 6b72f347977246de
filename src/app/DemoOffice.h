#pragma once

#include "core/Outcome.h"

#include <QString>

class QTextStream;

namespace velda {

class Session;

// How much the sample holds; the summary says it and the tests count it.
namespace DemoSize {
inline constexpr int Users = 3;  // besides admin
inline constexpr int Groups = 2; // besides admin and user
inline constexpr int Codes = 26; // each with its part record and its drawing record
inline constexpr int Drawings = 14;
inline constexpr int Sections = 2;
inline constexpr int Borrows = 2;
inline constexpr int Archives = 2;
inline constexpr int Holds = 1;
} // namespace DemoSize

namespace DemoText {
// %1: what the office already holds.
inline const QString NotFresh =
    QStringLiteral("本机办公环境中已有%1，样例数据只能填入新建的办公环境，未作任何改动。\n"
                   "如需重新开始，请先用 bash scripts/office.sh purge 删除本机办公环境（其中的全部数据都会被删除）。");
inline const QString AdminLogin =
    QStringLiteral("无法以admin/admin登录admin组（%1），样例数据只能填入新建的办公环境，未作任何改动。");
inline const QString NoVolume =
    QStringLiteral("admin组没有存储目录，样例图纸无法入库。请用 bash scripts/run.sh --demo 建立本机办公环境。");
inline const QString Filled = QStringLiteral("样例数据已填入本机办公环境。");
} // namespace DemoText

// What makes the office not fresh: the kinds of data it holds besides the reference data, the
// administrator and the set-up's volume (users, groups, volumes, records, drawings, structures, borrow
// or archive records), joined by "、"; empty for a fresh office. Throws Error.
QString DemoBlockers(Session& session);

// Fills a fresh office with a small sample through the operations the dialogs run, each as the user who
// would do it (logged in through the login, so rights and log rows are those of real use): three users
// in two groups, part and drawing records, sample drawings with preview pictures checked into the
// library (their local copies in folder/样例图纸), one product structure of two sections, borrow and
// archive records, and one drawing checked out. Refused, with nothing changed, when the office is not
// fresh; a failing step ends the fill and says which. Writes what it did to out.
Outcome FillDemoOffice(Session& session, const QString& folder, QTextStream& out);

// The preview picture of a sample drawing: a small sketch of the part with its code and name in a
// title block marked as a sample, as the DIB a drawing file stores. Needs a Qt GUI application.
QByteArray DemoPicture(const QString& code, const QString& name, int shape);

} // namespace velda
