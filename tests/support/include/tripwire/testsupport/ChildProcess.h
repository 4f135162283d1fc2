#pragma once

// Forked checks (optionally without root's privileges) and what /proc says about processes.

#include <chrono>
#include <fstream>
#include <functional>
#include <grp.h>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tripwire::testsupport {

/// The exit code of a check that could not drop root's privileges.
constexpr int childSkipped = 77;
constexpr uid_t unprivilegedId = 65534; // "nobody" on Debian

/// Runs `check` in a forked child, so resource limits and lost privileges never touch the test
/// process, and returns its result (98 when it threw, 128+N after signal N).
inline int runInChild(const std::function<int()>& check, bool unprivileged = false) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (unprivileged && ::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(unprivilegedId) != 0 ||
             ::setuid(unprivilegedId) != 0))
            ::_exit(childSkipped);
        int code = 98;
        try {
            code = check();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct ProcStat {
    char state = '?';
    pid_t parent = -1;
    pid_t session = -1;
};

/// The state, parent and session of a process; empty once it no longer exists.
inline std::optional<ProcStat> procStat(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(text.substr(close + 2));
    ProcStat stat;
    pid_t group = -1;
    fields >> stat.state >> stat.parent >> group >> stat.session;
    return stat;
}

/// True while the process exists and has not ended (a zombie has ended).
inline bool isRunning(pid_t pid) {
    const auto stat = procStat(pid);
    return stat && stat->state != 'Z' && stat->state != 'X';
}

/// True when the process is an ended, unreaped child of this process.
inline bool isZombieChild(pid_t pid) {
    const auto stat = procStat(pid);
    return stat && stat->state == 'Z' && stat->parent == ::getpid();
}

/// Polls a condition that another process or thread brings about; false after `limit`.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace tripwire::testsupport
