#include "Supervisor.h"

#include "KeepAliveLog.h"

#include <foundation/log/write_record.h>

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace halvexconnector::serviceprocess::client_lifetime::detail {

namespace fcp = foundation::core::process;

namespace {

// Without a process descriptor the exit is noticed by looking this often.
constexpr int exitPollIntervalMs = 50;

int toTimeout(std::chrono::milliseconds length) {
    constexpr std::chrono::milliseconds longest{1'000'000'000};
    return static_cast<int>(std::min(length, longest).count());
}

} // namespace

fcp::process startDetached(const std::string& launcher) {
    fcp::context ctx;
    ctx.detached_process(true);
    return fcp::process(fcp::command(launcher), ctx);
}

Supervisor::Supervisor(std::string launcherPath, const KeepAlivePolicy& policy,
                       fcp::process firstProcess, RestartBudget::Clock::time_point firstStart)
    : launcher(std::move(launcherPath)), budget(policy), current(std::move(firstProcess)) {
    budget.recordStart(firstStart);
    currentPid = current->pid();
    wakeDescriptor = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeDescriptor < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    try {
        thread = std::thread([this] { run(); });
    } catch (...) {
        ::close(wakeDescriptor);
        throw;
    }
}

Supervisor::~Supervisor() {
    stopping = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeDescriptor, &one, sizeof one);
    thread.join();
    ::close(wakeDescriptor);
    // `current`, if still running, goes to the process library's reaper here.
}

std::optional<pid_t> Supervisor::processId() const noexcept {
    const pid_t pid = currentPid.load();
    return pid > 0 ? std::optional<pid_t>(pid) : std::nullopt;
}

void Supervisor::run() noexcept {
    try {
        supervise();
    } catch (const std::exception& error) {
        // Waiting or restarting failed in a way no pause can mend (the launcher is gone, or the
        // child was reaped behind our back): the supervision ends as failed.
        try {
            foundation::log::write_record(keepAliveLogger(), failureSeverity,
                                          "Service process supervision of \"", launcher,
                                          "\" ended: ", error.what(), "\n");
        } catch (...) {
        }
    } catch (...) {
    }
    currentPid = -1;
    if (!stopping) {
        phase = Phase::ended;
    }
}

void Supervisor::supervise() {
    namespace log = foundation::log;
    while (true) {
        if (!waitForExit(*current)) {
            return;
        }
        const pid_t pid = current->pid();
        const std::uint32_t code = current->exit_status();
        currentPid = -1;
        current.reset();
        if (code == 0) {
            // A clean end is the service host's own decision (e.g. another instance runs).
            log::write_record(keepAliveLogger(), cleanEndSeverity, "Service process ", pid,
                              " ended with exit code 0; it is not restarted.\n");
            return;
        }
        const auto pauseLength = budget.pauseAfterFailure(RestartBudget::Clock::now());
        if (!pauseLength) {
            log::write_record(keepAliveLogger(), failureSeverity, "Service process ", pid,
                              " ended with exit code ", code,
                              "; the restart budget is spent, giving up.\n");
            return;
        }
        log::write_record(keepAliveLogger(), restartSeverity, "Service process ", pid,
                          " ended with exit code ", code, "; restarting in ", pauseLength->count(),
                          " ms.\n");
        phase = Phase::pausing;
        if (!pause(*pauseLength)) {
            return;
        }
        const auto now = RestartBudget::Clock::now();
        current.emplace(startDetached(launcher));
        budget.recordStart(now);
        currentPid = current->pid();
        phase = Phase::running;
    }
}

bool Supervisor::waitForExit(fcp::process& process) {
    while (!process.try_exit_status()) {
        const int descriptor = process.exit_descriptor();
        if (!waitForEvent(descriptor, descriptor < 0 ? exitPollIntervalMs : -1)) {
            return false;
        }
    }
    return true;
}

bool Supervisor::pause(std::chrono::milliseconds length) {
    const auto end = RestartBudget::Clock::now() + length;
    for (auto now = RestartBudget::Clock::now(); now < end; now = RestartBudget::Clock::now()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now);
        if (!waitForEvent(-1, toTimeout(left))) {
            return false;
        }
    }
    return !stopping;
}

bool Supervisor::waitForEvent(int descriptor, int timeoutMs) {
    pollfd watched[2] = {{wakeDescriptor, POLLIN, 0}, {descriptor, POLLIN, 0}};
    const nfds_t count = descriptor >= 0 ? 2 : 1;
    if (::poll(watched, count, timeoutMs) < 0 && errno != EINTR) {
        throw std::system_error(errno, std::generic_category(), "poll");
    }
    return !stopping;
}

} // namespace halvexconnector::serviceprocess::client_lifetime::detail
