#include "agent/control/AgentStop.h"

#include "agent/control/AgentSelection.h"
#include "agent/control/LockFileProbe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <string>
#include <thread>
#include <utility>

namespace agent::control {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A descriptor of the process itself: once open, it names that process and no later one.
class ProcessHandle {
public:
    explicit ProcessHandle(pid_t pid) : fd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {}
    ~ProcessHandle() {
        if (fd >= 0)
            ::close(fd);
    }
    ProcessHandle(ProcessHandle&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    ProcessHandle& operator=(ProcessHandle&&) = delete;

    bool valid() const { return fd >= 0; }
    bool signal(int number) const {
        return ::syscall(SYS_pidfd_send_signal, fd, number, nullptr, 0) == 0;
    }

private:
    int fd;
};

bool hasLockLine(const fs::path& fdinfo) {
    std::ifstream in(fdinfo);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("lock:", 0) == 0)
            return true;
    }
    return false;
}

bool lockHeld(const fs::path& lockFile) {
    return probeLockFile(lockFile).has_value();
}

struct Target {
    StoppedAgent report;
    ProcessHandle process;
};

} // namespace

bool holdsLockOn(pid_t pid, const fs::path& lockFile) {
    struct stat wanted {};
    if (pid <= 0 || ::stat(lockFile.c_str(), &wanted) != 0)
        return false;
    const fs::path fdDirectory = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code error;
    for (fs::directory_iterator it(fdDirectory, error), end; !error && it != end;
         it.increment(error)) {
        struct stat open {};
        if (::stat(it->path().c_str(), &open) != 0 || open.st_dev != wanted.st_dev ||
            open.st_ino != wanted.st_ino)
            continue;
        // fdinfo lists the locks of that one file description, not every lock on the file.
        if (hasLockLine(fs::path("/proc") / std::to_string(pid) / "fdinfo" / it->path().filename()))
            return true;
    }
    return false;
}

std::vector<StoppedAgent> stopRunningAgents(const fs::path& lockRoot,
                                            std::chrono::milliseconds grace) {
    std::vector<Target> targets;
    for (AgentInfo& agent : enumerateRunningAgentsUnder(lockRoot, ALL_AGENTS)) {
        const pid_t pid = agent.pid;
        Target target{StoppedAgent{std::move(agent)}, ProcessHandle(pid)};
        // Open first, confirm second: a pid reused after the check cannot be signalled.
        if (target.process.valid() && holdsLockOn(pid, target.report.agent.lockFile))
            target.report.signalled = target.process.signal(SIGTERM);
        targets.push_back(std::move(target));
    }

    const auto waitUntilFree = [&targets](Clock::time_point deadline) {
        for (;;) {
            bool anyHeld = false;
            for (Target& target : targets) {
                if (target.report.signalled && !target.report.stopped)
                    target.report.stopped = !lockHeld(target.report.agent.lockFile);
                anyHeld = anyHeld || (target.report.signalled && !target.report.stopped);
            }
            if (!anyHeld || Clock::now() >= deadline)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    };
    waitUntilFree(Clock::now() + grace);
    bool killedAny = false;
    for (Target& target : targets) {
        if (target.report.signalled && !target.report.stopped) {
            target.report.killed = target.process.signal(SIGKILL);
            killedAny = killedAny || target.report.killed;
        }
    }
    if (killedAny)
        waitUntilFree(Clock::now() + std::chrono::seconds(5));

    std::vector<StoppedAgent> reports;
    for (Target& target : targets)
        reports.push_back(std::move(target.report));
    return reports;
}

} // namespace agent::control
