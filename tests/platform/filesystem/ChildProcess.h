#pragma once

// Runs a check in a forked child, optionally without root's privileges, so that permission
// failures and resource limits really happen and never touch the test process itself.

#include <functional>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fstest {

constexpr int child_skipped = 77;
constexpr uid_t unprivileged_id = 65534; // "nobody" on Debian

/// The child's exit code (its function's result; 128+N after signal N; child_skipped when the
/// privileges could not be dropped).
inline int run_in_child(const std::function<int()>& check, bool drop_root) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (drop_root && ::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(unprivileged_id) != 0 ||
                ::setuid(unprivileged_id) != 0) {
                ::_exit(child_skipped);
            }
        }
        int code = 99;
        try {
            code = check();
        } catch (...) {
            code = 98;
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace fstest
