#include <tripwire/testsupport/ChildProcess.h>
#include <tripwire/testsupport/OtherUser.h>

#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <stdexcept>

extern char** environ;

namespace tripwire::testsupport {

namespace fs = std::filesystem;

RunningProgram::RunningProgram(const std::vector<std::string>& argv, const std::string& terminal,
                               const fs::path& directory)
    : toTerminal(!terminal.empty()) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawn_file_actions_addopen(&actions, 1,
                                     toTerminal ? terminal.c_str() : (output / "out").c_str(),
                                     toTerminal ? O_RDWR | O_NOCTTY : O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (output / "err").c_str(), O_WRONLY | O_CREAT,
                                     0600);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const int error = ::posix_spawn(&id, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + argv.at(0));
}

RunningProgram::~RunningProgram() {
    if (!reaped) {
        ::kill(id, SIGKILL);
        finish();
    }
}

std::string RunningProgram::firstLine() const {
    std::string out;
    eventually(
        [&] {
            siginfo_t ended{};
            ::waitid(P_PID, static_cast<id_t>(id), &ended, WEXITED | WNOHANG | WNOWAIT);
            out = readFile(output / "out");
            return out.find('\n') != std::string::npos || ended.si_pid != 0;
        },
        std::chrono::seconds(5));
    return out.substr(0, out.find('\n'));
}

ProgramRun RunningProgram::finish() {
    int status = 0;
    while (::waitpid(id, &status, 0) < 0 && errno == EINTR) {
    }
    reaped = true;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            toTerminal ? std::string() : readFile(output / "out"), readFile(output / "err")};
}

ProgramRun runOnTerminal(const std::vector<std::string>& argv, unsigned short columns,
                         const fs::path& directory,
                         const std::function<void(RunningProgram&)>& whileRunning) {
    // A raw pseudo-terminal `columns` wide: bytes pass through unchanged.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    termios settings{};
    ::tcgetattr(master, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(master, TCSANOW, &settings);
    const winsize size{24, columns, 0, 0};
    ::ioctl(master, TIOCSWINSZ, &size);
    RunningProgram program(argv, ::ptsname(master), directory);
    if (whileRunning)
        whileRunning(program);
    std::string shown;
    char buffer[4096];
    // EIO once the last writer has gone.
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
        shown.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    ::close(master);
    ProgramRun run = program.finish();
    run.out = shown;
    return run;
}

std::string otherUserUnavailable() {
    return ::geteuid() == 0 ? std::string()
                            : "another user can only be played by root (setuid to nobody)";
}

int runInChild(const std::function<int()>& body, bool asOtherUser) {
    const pid_t pid = ::fork();
    if (pid < 0)
        return 97;
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
