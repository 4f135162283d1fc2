#pragma once

#include <atomic>
#include <mutex>

namespace halvexconnector::tripwireimpl {

// Runs an action once per flag, as std::call_once does: concurrent callers wait for the running
// action and then skip it, and an action that throws leaves the flag unset for a later caller.
// std::call_once is not used because libstdc++ builds it on pthread_once, which cannot unwind a
// throwing action everywhere (ThreadSanitizer's pthread_once, for one): later callers would then
// block for ever.
class OnceFlag {
public:
    template <class Action> void callOnce(Action&& action) {
        if (done.load(std::memory_order_acquire)) {
            return;
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (done.load(std::memory_order_relaxed)) {
            return;
        }
        action();
        done.store(true, std::memory_order_release);
    }

private:
    std::atomic<bool> done{false};
    std::mutex mutex;
};

} // namespace halvexconnector::tripwireimpl
