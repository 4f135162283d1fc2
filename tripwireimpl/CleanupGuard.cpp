#include "CleanupGuard.h"

#include <utility>

namespace halvexconnector::tripwireimpl {

CleanupGuard::~CleanupGuard() {
    if (!action) {
        return;
    }
    Action pending = takeAction();
    try {
        pending();
    } catch (...) {
        // A guard being destroyed has nobody to report to.
    }
}

CleanupGuard& CleanupGuard::operator=(Action replacement) {
    action = std::move(replacement);
    return *this;
}

void CleanupGuard::runNow() {
    if (!action) {
        return;
    }
    Action pending = takeAction();
    pending();
}

CleanupGuard::Action CleanupGuard::takeAction() noexcept {
    Action taken = std::move(action);
    action = nullptr;
    return taken;
}

} // namespace halvexconnector::tripwireimpl
