#include "StopSignals.h"

#include <pthread.h>

#include <system_error>

namespace tripwire_host {

namespace {

// Sent by the destructor to end the waiting thread.
constexpr int quitSignal = SIGUSR2;

} // namespace

StopSignals::StopSignals() {
    sigemptyset(&watched);
    sigaddset(&watched, SIGINT);
    sigaddset(&watched, SIGTERM);
    sigaddset(&watched, quitSignal);
    if (const int error = pthread_sigmask(SIG_BLOCK, &watched, nullptr); error != 0) {
        throw std::system_error(error, std::generic_category(), "pthread_sigmask");
    }
    waiter = std::thread([this] { waitForSignals(); });
}

StopSignals::~StopSignals() {
    pthread_kill(waiter.native_handle(), quitSignal);
    waiter.join();
}

void StopSignals::onStop(std::function<void()> action) {
    std::lock_guard<std::mutex> lock(guard);
    stopAction = std::move(action);
    if (signalNumber != 0 && stopAction) {
        stopAction();
    }
}

int StopSignals::received() const {
    std::lock_guard<std::mutex> lock(guard);
    return signalNumber;
}

void StopSignals::waitForSignals() {
    for (;;) {
        int signal = 0;
        if (sigwait(&watched, &signal) != 0 || signal == quitSignal) {
            return;
        }
        // The action runs under the lock, so whoever clears it afterwards knows it has ended.
        std::lock_guard<std::mutex> lock(guard);
        signalNumber = signal;
        if (stopAction) {
            stopAction();
        }
    }
}

} // namespace tripwire_host
