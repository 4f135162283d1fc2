#include "spawn.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace foundation::core::process::detail {

namespace {

constexpr const char* nullDevice = "/dev/null";
// The longest single pause before starting a program again that was busy being written.
constexpr auto textBusyPatience = std::chrono::milliseconds(256);

void requireNoNul(std::string_view text, const char* what) {
    if (text.find('\0') != std::string_view::npos) {
        throw std::invalid_argument(std::string(what) + " contains a NUL character");
    }
}

void validate(const command& cmd, const context& ctx) {
    if (cmd.program().empty()) {
        throw std::invalid_argument("cannot start a process: the program is empty");
    }
    requireNoNul(cmd.program(), "the program");
    for (const auto& argument : cmd.arguments()) {
        requireNoNul(argument, "an argument");
    }
    for (const auto& [name, value] : ctx.environment()) {
        if (name.empty() || name.find('=') != std::string::npos) {
            throw std::invalid_argument("invalid environment variable name \"" + name + "\"");
        }
        requireNoNul(name, "an environment variable name");
        requireNoNul(value, "an environment variable value");
    }
}

std::string_view nameOf(std::string_view entry) {
    return entry.substr(0, entry.find('='));
}

// The caller's variables, minus those the context replaces (in any case), then the context's.
std::vector<std::string> mergedEnvironment(const environment_map& overlay) {
    std::vector<std::string> merged;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (overlay.find(nameOf(text)) == overlay.end()) {
            merged.emplace_back(text);
        }
    }
    for (const auto& [name, value] : overlay) {
        merged.push_back(name + "=" + value);
    }
    return merged;
}

bool sameName(std::string_view left, std::string_view right) {
    const util::lexicographical_iless less;
    return !less(left, right) && !less(right, left);
}

// The value of PATH in the child's environment: the exact spelling first, then any case.
std::string searchPathOf(const std::vector<std::string>& environment) {
    const std::string* anyCase = nullptr;
    for (const auto& entry : environment) {
        const auto name = nameOf(entry);
        if (name == "PATH") {
            return entry.substr(5);
        }
        if (anyCase == nullptr && sameName(name, "PATH")) {
            anyCase = &entry;
        }
    }
    if (anyCase != nullptr) {
        return anyCase->substr(5);
    }
    const auto size = confstr(_CS_PATH, nullptr, 0);
    std::string fallback(size, '\0');
    confstr(_CS_PATH, fallback.data(), size);
    fallback.resize(size > 0 ? size - 1 : 0);
    return fallback;
}

[[noreturn]] void throwStartFailure(const std::string& program, int error) {
    throw std::system_error(error, std::generic_category(), "cannot start \"" + program + "\"");
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A name without '/' is looked up as the shell would, but along the child's own PATH, so that a
// context that sets PATH finds its programs.
std::string resolveProgram(const std::string& program,
                           const std::vector<std::string>& environment) {
    if (program.find('/') != std::string::npos) {
        return program;
    }
    const std::string searchPath = searchPathOf(environment);
    int failure = ENOENT;
    std::string_view rest(searchPath);
    while (true) {
        const auto colon = rest.find(':');
        std::string directory(rest.substr(0, colon));
        if (directory.empty()) {
            directory = ".";
        }
        std::string candidate = directory + "/" + program;
        if (isRegularFile(candidate)) {
            if (::access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
            failure = EACCES;
        }
        if (colon == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(colon + 1);
    }
    throwStartFailure(program, failure);
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (auto& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

void check(int result, const char* what) {
    if (result != 0) {
        throw std::system_error(result, std::generic_category(), what);
    }
}

class FileActions {
public:
    explicit FileActions(bool detached) {
        check(posix_spawn_file_actions_init(&actions), "posix_spawn_file_actions_init");
        try {
            openNullDevice(STDIN_FILENO, O_RDONLY);
            if (detached) {
                openNullDevice(STDOUT_FILENO, O_WRONLY);
                openNullDevice(STDERR_FILENO, O_WRONLY);
            }
            // Closing in the child (close_range) rather than marking descriptors close-on-exec
            // also covers descriptors that other threads open without O_CLOEXEC meanwhile.
            check(posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1),
                  "posix_spawn_file_actions_addclosefrom_np");
        } catch (...) {
            posix_spawn_file_actions_destroy(&actions);
            throw;
        }
    }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;

    const posix_spawn_file_actions_t* get() const { return &actions; }

private:
    void openNullDevice(int descriptor, int flags) {
        check(posix_spawn_file_actions_addopen(&actions, descriptor, nullDevice, flags, 0),
              "posix_spawn_file_actions_addopen");
    }

    posix_spawn_file_actions_t actions{};
};

class Attributes {
public:
    explicit Attributes(bool detached) {
        check(posix_spawnattr_init(&attributes), "posix_spawnattr_init");
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (detached) {
            flags |= POSIX_SPAWN_SETSID;
        }
        sigset_t none;
        sigemptyset(&none);
        sigset_t all;
        sigfillset(&all);
        // The caller's blocked and ignored signals (a host often ignores SIGPIPE) are its own
        // business; the child starts from the defaults.
        posix_spawnattr_setflags(&attributes, flags);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
    }
    ~Attributes() { posix_spawnattr_destroy(&attributes); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;

    const posix_spawnattr_t* get() const { return &attributes; }

private:
    posix_spawnattr_t attributes{};
};

} // namespace

pid_t spawnChild(const command& cmd, const context& ctx) {
    validate(cmd, ctx);
    std::vector<std::string> environment = mergedEnvironment(ctx.environment());
    const std::string path = resolveProgram(cmd.program(), environment);

    std::vector<std::string> arguments;
    arguments.reserve(cmd.arguments().size() + 1);
    arguments.push_back(cmd.program());
    arguments.insert(arguments.end(), cmd.arguments().begin(), cmd.arguments().end());
    const auto argv = pointersTo(arguments);
    const auto envp = pointersTo(environment);

    const FileActions actions(ctx.detached_process());
    const Attributes attributes(ctx.detached_process());
    pid_t pid = -1;
    // glibc reports a failed exec through the return value, so a missing or unrunnable program
    // is known here and no child is left over.
    int result =
        posix_spawn(&pid, path.c_str(), actions.get(), attributes.get(), argv.data(), envp.data());
    // A program written a moment ago by another thread can be held open for writing, for the
    // instant before their exec, by the children that other threads are starting (they get a
    // copy of every descriptor): exec then fails with ETXTBSY until they have closed it.
    for (auto pause = std::chrono::milliseconds(1); result == ETXTBSY && pause <= textBusyPatience;
         pause *= 2) {
        std::this_thread::sleep_for(pause);
        result = posix_spawn(&pid, path.c_str(), actions.get(), attributes.get(), argv.data(),
                             envp.data());
    }
    if (result != 0) {
        throwStartFailure(cmd.program(), result);
    }
    return pid;
}

int openProcessDescriptor(pid_t pid) noexcept {
    const long descriptor = ::syscall(SYS_pidfd_open, pid, 0);
    return descriptor < 0 ? -1 : static_cast<int>(descriptor);
}

} // namespace foundation::core::process::detail
