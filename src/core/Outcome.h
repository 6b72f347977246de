#pragma once

#include "core/Feedback.h"
#include "store/Database.h"

#include <QString>

#include <exception>
#include <utility>

namespace velda {

// What an operation ends with. Logic returns it and never shows anything; a dialog hands it to
// ShowOutcome. A refusal is the system saying no (rights, a hold, bad input) and changed nothing; a
// failure is a step that went wrong (database, transfer) and carries the error's description.
struct Outcome {
    enum class Kind { Done, Refused, Failed };

    Kind kind = Kind::Done;
    QString text; // empty for a silent success
    Icon icon = Icon::None;
    QString title = kTitleFeedback;

    static Outcome success(QString text = {}, Icon icon = Icon::None, QString title = kTitleFeedback) {
        return {Kind::Done, std::move(text), icon, std::move(title)};
    }
    static Outcome refusal(QString text, QString title = kTitleFeedback, Icon icon = Icon::Stop) {
        return {Kind::Refused, std::move(text), icon, std::move(title)};
    }
    static Outcome failure(QString description) {
        return {Kind::Failed, std::move(description), Icon::Stop, kTitleFeedback};
    }

    bool done() const { return kind == Kind::Done; }
    bool refused() const { return kind == Kind::Refused; }
    bool failed() const { return kind == Kind::Failed; }
};

// Shows the outcome's box (none for a silent success); returns whether it was a success.
bool ShowOutcome(Feedback& feedback, const Outcome& outcome);

// Runs one step of an operation, turning the store's and the transfer client's errors into a
// failure, so nothing thrown leaves a command handler.
template <typename F> Outcome Guarded(F&& step) {
    try {
        return step();
    } catch (const Error& e) {
        return Outcome::failure(e.description());
    } catch (const std::exception& e) {
        return Outcome::failure(QString::fromLocal8Bit(e.what()));
    }
}

} // namespace velda
