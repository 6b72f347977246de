#include "core/Outcome.h"

namespace velda {

bool ShowOutcome(Feedback& feedback, const Outcome& outcome) {
    if (!outcome.text.isEmpty())
        feedback.message(outcome.text, outcome.icon, outcome.title);
    return outcome.done();
}

} // namespace velda
