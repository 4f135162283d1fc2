#include "children.h"

#include "foundation/core/process/terminate_children.h"
#include "reaper.h"
#include "spawn.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <map>
#include <mutex>
#include <poll.h>
#include <set>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace foundation::core::process::detail {

namespace {

// How often the end of signalled children is looked at, and how long SIGKILL may take.
constexpr auto endCheckInterval = std::chrono::milliseconds(10);
constexpr auto killDelivery = std::chrono::seconds(5);

// The attached children that still run, each with a process descriptor of its own (or -1), so
// that a signal never reaches a process that took over the number of a reaped child.
// Deliberately never destroyed, like the reaper: processes may end during static destruction.
class Children {
public:
    static Children& instance() {
        static Children* const children = new Children();
        return *children;
    }

    pid_t launch(const command& cmd, const context& ctx) {
        if (ctx.detached_process()) {
            return spawnChild(cmd, ctx);
        }
        // Shared, so that launches run side by side; terminate() takes it exclusively, so every
        // launch that got past the check is listed before the first signal goes out. The flag
        // is looked at before the lock too: launches that keep taking the shared lock could
        // otherwise hold terminate() off indefinitely.
        refuseAfterTermination(cmd);
        const std::shared_lock gate(launching);
        refuseAfterTermination(cmd);
        const pid_t pid = spawnChild(cmd, ctx);
        const int descriptor = openProcessDescriptor(pid);
        try {
            const std::lock_guard guard(lock);
            running.emplace(pid, descriptor);
        } catch (...) {
            // A child that could not be listed would escape terminate(): it does not run at all.
            ::kill(pid, SIGKILL);
            adoptChild(pid, descriptor);
            throw;
        }
        return pid;
    }

    void refuseAfterTermination(const command& cmd) const {
        if (terminating.load()) {
            throw std::runtime_error("cannot start \"" + cmd.program() +
                                     "\": child processes are being ended because this process "
                                     "is shutting down");
        }
    }

    void forget(pid_t pid) noexcept {
        const std::lock_guard guard(lock);
        const auto entry = running.find(pid);
        if (entry != running.end()) {
            if (entry->second >= 0) {
                ::close(entry->second);
            }
            running.erase(entry);
        }
    }

    void terminate(std::chrono::milliseconds grace) {
        terminating = true;
        {
            // Waits for the launches already past the check: their children are listed then.
            const std::unique_lock gate(launching);
        }
        std::set<pid_t> targets = signalAll(SIGTERM);
        if (awaitEnd(targets, std::chrono::steady_clock::now() + grace)) {
            return;
        }
        signal(targets, SIGKILL);
        awaitEnd(targets, std::chrono::steady_clock::now() + killDelivery);
    }

private:
    static void send(pid_t pid, int descriptor, int signalNumber) noexcept {
        if (descriptor >= 0) {
            ::syscall(SYS_pidfd_send_signal, descriptor, signalNumber, nullptr, 0);
        } else {
            ::kill(pid, signalNumber);
        }
    }

    // Ended, though perhaps not yet reaped by its owner.
    static bool hasEnded(pid_t pid, int descriptor) noexcept {
        if (descriptor >= 0) {
            pollfd watch{descriptor, POLLIN, 0};
            return ::poll(&watch, 1, 0) > 0;
        }
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
            return errno != EINTR;
        }
        return info.si_pid != 0;
    }

    std::set<pid_t> signalAll(int signalNumber) {
        const std::lock_guard guard(lock);
        std::set<pid_t> signalled;
        for (const auto& [pid, descriptor] : running) {
            send(pid, descriptor, signalNumber);
            signalled.insert(pid);
        }
        return signalled;
    }

    void signal(const std::set<pid_t>& targets, int signalNumber) {
        const std::lock_guard guard(lock);
        for (const pid_t pid : targets) {
            const auto entry = running.find(pid);
            if (entry != running.end()) {
                send(pid, entry->second, signalNumber);
            }
        }
    }

    // Drops the targets that have ended (or were reaped and forgotten) until none is left or
    // the deadline passes; true when none is left.
    bool awaitEnd(std::set<pid_t>& targets, std::chrono::steady_clock::time_point deadline) {
        while (true) {
            {
                const std::lock_guard guard(lock);
                std::erase_if(targets, [this](pid_t pid) {
                    const auto entry = running.find(pid);
                    return entry == running.end() || hasEnded(pid, entry->second);
                });
            }
            if (targets.empty()) {
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(endCheckInterval);
        }
    }

    std::shared_mutex launching;
    std::atomic<bool> terminating{false};
    std::mutex lock;
    std::map<pid_t, int> running;
};

} // namespace

pid_t launchChild(const command& cmd, const context& ctx) {
    return Children::instance().launch(cmd, ctx);
}

void forgetChild(pid_t pid) noexcept {
    Children::instance().forget(pid);
}

} // namespace foundation::core::process::detail

namespace foundation::core::process {

void terminate_children(std::chrono::milliseconds grace) {
    detail::Children::instance().terminate(grace);
}

} // namespace foundation::core::process
