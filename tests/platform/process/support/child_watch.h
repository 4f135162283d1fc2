#pragma once
// Test helpers: temporary directories and what /proc says about child processes.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <thread>
#include <unistd.h>

namespace qbfl_test {

/// A fresh directory under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qbfl-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        root = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return root; }
    std::string file(const std::string& name) const { return (root / name).string(); }

private:
    std::filesystem::path root;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct ProcStat {
    char state = '?';
    pid_t parent = -1;
    pid_t session = -1;
};

/// The state, parent and session of a process; empty when it no longer exists.
inline std::optional<ProcStat> procStat(pid_t pid) {
    const std::string text = readFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
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

/// True when the process is an ended, unreaped child of this test.
inline bool isZombieChild(pid_t pid) {
    const auto stat = procStat(pid);
    return stat && stat->state == 'Z' && stat->parent == getpid();
}

/// Polls a condition that another process or thread brings about; gives up after `limit`.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Sets a variable of this test process for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name(name) {
        if (const char* old = std::getenv(name)) {
            previous = old;
        }
        setenv(name, value, 1);
    }
    ~ScopedVariable() {
        if (previous) {
            setenv(name, previous->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name;
    std::optional<std::string> previous;
};

} // namespace qbfl_test
