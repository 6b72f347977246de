#pragma once

#include "core/Outcome.h"
#include "library/LibraryRows.h"

#include <QString>

#include <functional>

namespace velda {

class Database;
class Session;
struct UserContext;

// What a check-out may do with a copy it fetched, on the rows as they are once the code is locked.
// The single check-out and each file of a batch check-out go by the same rules.
struct CheckOutRule {
    enum class Kind {
        Refused, // nothing recorded: outcome says why
        Changed, // checked in again since the copy was fetched: fetch again
        Granted, // the copy counts: record it, with the hold if takesHold
        Broken,  // the row says out, but no hold names a holder
    };
    Kind kind = Kind::Refused;
    Outcome outcome;
    bool missing = false;   // refused: the library has no drawing of the code
    bool takesHold = false; // granted: the user takes the hold
    QString copyOf;         // granted as a copy while this other account holds the drawing
};

// fetched and version: the row and the number of the last check-in the copy was fetched by; now and
// nowVersion: the same read under the lock. holder reads the hold, asked only when the rules need it.
CheckOutRule CheckOutRuleFor(const UserContext& ctx, const QString& code, const rows::StoredDrawing& fetched,
                             qint64 version, const rows::StoredDrawing& now, qint64 nowVersion,
                             const std::function<rows::Holder()>& holder);

// The hold a granted check-out takes, if any, and its log row.
void RecordCheckOut(Session& session, Database& db, const QString& user, const QString& code, bool takesHold);

} // namespace velda
