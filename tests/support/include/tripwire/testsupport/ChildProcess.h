#pragma once

// Programs run and watched from a test, and what /proc says about processes; functions run in a
// forked child are in OtherUser.h.

#include <tripwire/testsupport/TempDirectory.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tripwire::testsupport {

struct ProcStat {
    char state = '?';
    pid_t parent = -1;
    pid_t session = -1;
};

/// The state, parent and session of a process; empty once it no longer exists.
inline std::optional<ProcStat> procStat(pid_t pid) {
    std::string text;
    try { // a process that ends during the read makes the read fail with ESRCH
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
        return std::nullopt;
    }
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

/// How a program ended (a signal N reads as 128+N) and what it wrote.
struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

/// A program started with this process's environment and an empty standard input, in
/// `directory` when given, writing its standard output to `terminal` (a device name) when given;
/// killed at scope exit unless finished.
class RunningProgram {
public:
    explicit RunningProgram(const std::vector<std::string>& argv, const std::string& terminal = {},
                            const std::filesystem::path& directory = {});
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    pid_t pid() const { return id; }
    /// The first line of standard output once written (up to five seconds), empty when the
    /// program ended without one.
    std::string firstLine() const;
    /// What it has written to standard error so far.
    std::string errorSoFar() const { return readFile(output / "err"); }
    ProgramRun finish();

private:
    TempDirectory output;
    bool toTerminal;
    pid_t id = -1;
    bool reaped = false;
};

inline ProgramRun runProgram(const std::vector<std::string>& argv) {
    return RunningProgram(argv).finish();
}

/// Runs a program with standard output on a fresh terminal `columns` wide (`out` is what the
/// terminal showed), in `directory` when given; `whileRunning` runs once it has started.
ProgramRun runOnTerminal(const std::vector<std::string>& argv, unsigned short columns = 80,
                         const std::filesystem::path& directory = {},
                         const std::function<void(RunningProgram&)>& whileRunning = {});

} // namespace tripwire::testsupport
