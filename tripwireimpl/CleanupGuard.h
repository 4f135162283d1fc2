#pragma once

#include <functional>

namespace halvexconnector::tripwireimpl {

// Holds at most one clean-up action and runs it once: either on demand through runNow(), which
// lets the action's failure reach the caller, or when the guard is destroyed, which swallows it.
// It stays where it was made: the action belongs to that scope.
class CleanupGuard {
public:
    using Action = std::function<void()>;

    CleanupGuard() = default;
    explicit CleanupGuard(Action action) : action(std::move(action)) {}
    CleanupGuard(const CleanupGuard&) = delete;
    CleanupGuard& operator=(const CleanupGuard&) = delete;
    ~CleanupGuard();

    // Replaces the held action; the previous one is dropped without being run.
    CleanupGuard& operator=(Action replacement);

    void runNow();
    bool holdsAction() const noexcept { return static_cast<bool>(action); }

private:
    // Moves the action out so that the guard is empty before the action runs: an action that
    // throws, or one that reaches this guard again, can never run twice.
    Action takeAction() noexcept;

    Action action;
};

} // namespace halvexconnector::tripwireimpl
