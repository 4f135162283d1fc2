#include <tripwire/testsupport/OtherUser.h>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tripwire::testsupport {

std::string otherUserUnavailable() {
    return ::geteuid() == 0 ? std::string()
                            : "another user can only be played by root (setuid to nobody)";
}

int runInChild(const std::function<int()>& body, bool asOtherUser) {
    const pid_t pid = ::fork();
    if (pid < 0) {
        return 97;
    }
    if (pid == 0) {
        if (asOtherUser && (::setgroups(0, nullptr) != 0 || ::setgid(otherUserId) != 0 ||
                            ::setuid(otherUserId) != 0)) {
            ::_exit(96);
        }
        int code = 98;
        try {
            code = body();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace tripwire::testsupport
