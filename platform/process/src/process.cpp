#include "foundation/core/process/process.h"

#include "children.h"
#include "reaper.h"
#include "spawn.h"

#include <cerrno>
#include <mutex>
#include <string>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace foundation::core::process {

struct process::state {
    pid_t pid = -1;
    int descriptor = -1;
    std::mutex lock;
    std::optional<std::uint32_t> exitCode;

    // Waits (or only looks, with WNOHANG) and keeps the code once the child has ended.
    // Call with `lock` held.
    std::optional<std::uint32_t> collect(int options) {
        if (exitCode) {
            return exitCode;
        }
        int status = 0;
        pid_t result;
        do {
            result = ::waitpid(pid, &status, options);
        } while (result < 0 && errno == EINTR);
        if (result < 0) {
            const int error = errno;
            if (error == ECHILD) {
                detail::forgetChild(pid); // reaped by someone else: nothing left to end
            }
            throw std::system_error(error, std::generic_category(),
                                    "cannot wait for process " + std::to_string(pid));
        }
        if (result == 0) {
            return std::nullopt;
        }
        exitCode = decode(status);
        detail::forgetChild(pid);
        closeDescriptor();
        return exitCode;
    }

    static std::uint32_t decode(int status) {
        if (WIFSIGNALED(status)) {
            return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
        }
        return static_cast<std::uint32_t>(WEXITSTATUS(status));
    }

    void closeDescriptor() noexcept {
        if (descriptor >= 0) {
            ::close(descriptor);
            descriptor = -1;
        }
    }

    // Called when the owner goes away: a child that has ended is reaped now, one that still runs
    // is left to the reaper thread.
    void release() noexcept {
        const std::lock_guard guard(lock);
        if (exitCode) {
            return;
        }
        try {
            if (collect(WNOHANG)) {
                return;
            }
        } catch (const std::system_error&) {
            detail::forgetChild(pid);
            closeDescriptor(); // already reaped elsewhere: nothing left to wait for
            return;
        }
        detail::adoptChild(pid, std::exchange(descriptor, -1));
    }
};

process::process(const command& cmd, const context& ctx) : self(std::make_unique<state>()) {
    self->pid = detail::launchChild(cmd, ctx);
    self->descriptor = detail::openProcessDescriptor(self->pid);
}

process::~process() {
    if (self) {
        self->release();
    }
}

process::process(process&& other) noexcept = default;

process& process::operator=(process&& other) noexcept {
    if (this != &other) {
        if (self) {
            self->release();
        }
        self = std::move(other.self);
    }
    return *this;
}

pid_t process::pid() const noexcept {
    return self ? self->pid : -1;
}

std::uint32_t process::exit_status() {
    if (!self) {
        throw std::logic_error("exit_status of a moved-from process");
    }
    const std::lock_guard guard(self->lock);
    return *self->collect(0);
}

std::optional<std::uint32_t> process::try_exit_status() {
    if (!self) {
        throw std::logic_error("try_exit_status of a moved-from process");
    }
    const std::lock_guard guard(self->lock);
    return self->collect(WNOHANG);
}

int process::exit_descriptor() const noexcept {
    if (!self) {
        return -1;
    }
    const std::lock_guard guard(self->lock);
    return self->descriptor;
}

} // namespace foundation::core::process
