#pragma once

#include "RestartBudget.h"

#include "foundation/core/process/process.h"
#include "halvexconnector/serviceprocess/client_lifetime/KeepAlivePolicy.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>

namespace halvexconnector::serviceprocess::client_lifetime::detail {

/// Starts the launcher detached: its own session, so that it outlives the host.
foundation::core::process::process startDetached(const std::string& launcher);

/// Watches one service process on a thread of its own and restarts it by the policy. Its
/// destructor stops the thread within milliseconds and leaves the process running.
class Supervisor {
public:
    Supervisor(std::string launcher, const KeepAlivePolicy& policy,
               foundation::core::process::process firstProcess,
               RestartBudget::Clock::time_point firstStart);
    ~Supervisor();
    Supervisor(const Supervisor&) = delete;
    Supervisor& operator=(const Supervisor&) = delete;

    bool hasEnded() const noexcept { return phase.load() == Phase::ended; }
    std::optional<pid_t> processId() const noexcept;

private:
    enum class Phase { running, pausing, ended };

    void run() noexcept;
    void supervise();
    /// False when the supervisor is told to stop first.
    bool waitForExit(foundation::core::process::process& current);
    bool pause(std::chrono::milliseconds length);
    /// Polls the wake-up descriptor (and `descriptor`, when not -1); false when told to stop.
    bool waitForEvent(int descriptor, int timeoutMs);

    const std::string launcher;
    RestartBudget budget;
    std::optional<foundation::core::process::process> current;
    std::atomic<Phase> phase{Phase::running};
    std::atomic<pid_t> currentPid{-1};
    std::atomic<bool> stopping{false};
    int wakeDescriptor = -1;
    std::thread thread;
};

} // namespace halvexconnector::serviceprocess::client_lifetime::detail
