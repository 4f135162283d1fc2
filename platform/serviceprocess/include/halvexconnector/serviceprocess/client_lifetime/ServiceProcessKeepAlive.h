#pragma once

#include "halvexconnector/serviceprocess/client_lifetime/KeepAlivePolicy.h"

#include <fl/filesystem/basic_path.h>

#include <memory>
#include <mutex>
#include <optional>
#include <sys/types.h>

namespace halvexconnector::serviceprocess::client_lifetime {

namespace detail {
class Supervisor;
}

class ServiceProcessKeepAlive;

/// Starts the service host's launcher at `path` (an empty path: the installed launcher, see
/// KeepAlivePolicy::launcherLookup) detached from the caller, and returns a keep-alive that
/// supervises it. A launcher that is missing or cannot be started gives a keep-alive that
/// reports a terminal failure; nothing is thrown for it.
ServiceProcessKeepAlive startServiceProcess(const fl::filesystem::basic_path& path);
ServiceProcessKeepAlive startServiceProcess(const fl::filesystem::basic_path& path,
                                            const KeepAlivePolicy& policy);

/// Keeps one service process running: restarts it with growing pauses when it ends abnormally
/// (a non-zero exit code or a signal), within a budget of starts (see KeepAlivePolicy).
///
/// `hasTerminalFailure()` is true whenever the keep-alive no longer supervises a process and
/// will not start one by itself: default-constructed, reset, the launcher missing or not
/// startable, the budget spent, or the process ended with exit code 0 (for example because
/// another instance already runs). A new `startServiceProcess` is then the way to revive it.
///
/// The process is never stopped by the keep-alive: `reset()` and destruction end the
/// supervision at once and leave the service process running. All members are safe to call
/// from several threads at once.
class ServiceProcessKeepAlive {
public:
    ServiceProcessKeepAlive() noexcept;
    ~ServiceProcessKeepAlive();

    ServiceProcessKeepAlive(ServiceProcessKeepAlive&& other) noexcept;
    ServiceProcessKeepAlive& operator=(ServiceProcessKeepAlive&& other) noexcept;
    ServiceProcessKeepAlive(const ServiceProcessKeepAlive&) = delete;
    ServiceProcessKeepAlive& operator=(const ServiceProcessKeepAlive&) = delete;

    bool hasTerminalFailure() const noexcept;

    /// Ends the supervision (the service process keeps running) and returns to the state of a
    /// default-constructed keep-alive.
    void reset() noexcept;

    /// The supervised process while one runs; empty otherwise (also while waiting to restart).
    std::optional<pid_t> processId() const noexcept;

private:
    explicit ServiceProcessKeepAlive(std::unique_ptr<detail::Supervisor> supervisor) noexcept;
    friend ServiceProcessKeepAlive startServiceProcess(const fl::filesystem::basic_path& path,
                                                       const KeepAlivePolicy& policy);

    std::unique_ptr<detail::Supervisor> takeSupervisor() noexcept;

    mutable std::mutex guard;
    std::unique_ptr<detail::Supervisor> supervisor;
};

} // namespace halvexconnector::serviceprocess::client_lifetime
