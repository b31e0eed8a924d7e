#pragma once
#include "storage/failure.h"
#include "widgets/prompter.h"

#include <exception>
#include <utility>

// Runs an event handler's body. An exception ends the user action and is shown
// in the default error box, in the words storage gives each kind of failure;
// nothing escapes into Qt's event loop.
template <class F>
void guarded(Prompter& prompter, F&& body) noexcept {
    try {
        std::forward<F>(body)();
    } catch (const std::exception& e) {
        try {
            prompter.error(QString::fromStdString(tsl::errorText(e)));
        } catch (...) {
        }
    } catch (...) {
        try {
            prompter.error(QStringLiteral("未知错误"));
        } catch (...) {
        }
    }
}
