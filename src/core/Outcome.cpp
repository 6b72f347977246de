#include "core/Outcome.h"

#include <cstdio>

namespace velda {

bool ShowOutcome(Feedback& feedback, const Outcome& outcome) {
    if (!outcome.text.isEmpty())
        feedback.message(outcome.text, outcome.icon, outcome.title);
    return outcome.done();
}

void StderrFeedback::message(const QString& text, Icon, const QString&) {
    ++messages;
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

bool StderrFeedback::question(const QString& text, const QString&) {
    message(text, Icon::None, {});
    return false;
}

} // namespace velda
