#pragma once

#include <csignal>
#include <functional>
#include <mutex>
#include <thread>

namespace tripwire_host {

// Turns SIGINT and SIGTERM into a stop of the running framework, which deactivates the module's
// component so that a waiting service start gives up at once and the program ends normally.
//
// The signals are taken by a dedicated thread with sigwait, so the stop runs as ordinary code,
// not in a signal handler. Construct this object first thing in main, before any other thread
// exists, so that every later thread inherits the blocked signal mask.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Sets what a signal runs (an empty function: nothing). A signal that arrived while nothing
    // was set runs the new action at once.
    void onStop(std::function<void()> action);

    // The signal received, 0 when none.
    int received() const;

private:
    void waitForSignals();

    sigset_t watched{};
    mutable std::mutex guard;
    std::function<void()> stopAction;
    int signalNumber = 0;
    std::thread waiter;
};

} // namespace tripwire_host
