#pragma once

#include "core/Outcome.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <vector>

namespace velda {

class Database;
class Session;

// A drawing checked out and not yet checked in again.
struct HeldDrawing {
    QString code;
    QString holder; // 出库帐号
    QString since;  // 出库时间 as stored (year/month/day)
    int days = -1;  // whole days since then, -1 when the stored date cannot be read
    QString volume; // the volume that holds the drawing's file
    // The log number of the holder's last check-out of the drawing, 0 when the log has none (a hold
    // written by another program): holder and date alone cannot tell this hold from a newer one the
    // same holder took the same day.
    qint64 checkOut = 0;
};

// Every hold, by code; holder empty: all holders, otherwise only that account's.
std::vector<HeldDrawing> ListHolds(Database& db, const QDate& today, const QString& holder = {});
// The accounts that hold drawings, sorted.
QStringList Holders(Database& db);

namespace HoldText {
inline const QString LogRelease = QStringLiteral("撤销出库");
QString Released(const QString& code);
QString NotHeld(const QString& code);
QString HoldChanged(const QString& code, const QString& holder, const QString& since);
QString NotHolder(const QString& code, const QString& holder);
QString AskRelease(const QString& code, const QString& holder, const QString& since);
// The log row's code: the drawing and whose hold it was.
QString LogCode(const QString& code, const QString& holder);
} // namespace HoldText

// Ending a hold without a check-in: the library row goes back to 正常 and the hold row goes; the
// holder's local copy is none of the library's business.
class Holds final {
public:
    explicit Holds(Session& session);

    // What a release of the hold the list showed needs: a refusal, or done with question() set when
    // an administrator releases another user's hold and must confirm it first.
    struct Check {
        Outcome refusal;
        QString question;
    };
    Check Prepare(const HeldDrawing& shown);

    // Releases the hold the list showed (the same holder, date and check-out): refused when it is gone,
    // was taken again, or the user may not release it. The rules are checked again under the code's lock.
    Outcome Release(const HeldDrawing& shown);

    // Called after the unlocked check, before the locked one ("checked"); tests race there.
    std::function<void(QStringView step)> onStep;

private:
    Session& m_session;
};

} // namespace velda
