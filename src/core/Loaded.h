#pragma once

#include "core/Outcome.h"

#include <exception>
#include <type_traits>
#include <utility>

namespace velda {

// What a read that fills a form or a list brings back: what it read, or the failure that says why it
// could not (the value then stays empty). The form shows the outcome and fills what came; nothing
// thrown reaches it.
template <typename T> struct Loaded {
    T value{};
    Outcome outcome;

    bool ok() const { return outcome.done(); }
};

// Runs a read, its store's and transfer client's errors becoming the failure of what it loaded, as
// Guarded does for a step of an operation.
template <typename F> auto Load(F&& read) -> Loaded<std::decay_t<std::invoke_result_t<F&>>> {
    using T = std::decay_t<std::invoke_result_t<F&>>;
    try {
        return {read(), Outcome::success()};
    } catch (const Error& e) {
        return {T{}, Outcome::failure(e.description())};
    } catch (const std::exception& e) {
        return {T{}, Outcome::failure(QString::fromLocal8Bit(e.what()))};
    }
}

} // namespace velda
