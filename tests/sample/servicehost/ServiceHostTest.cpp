#include "agent/control/AgentDiscovery.h"
#include "halvexconnector/folderlocations/FolderLocations.h"

#include "support/ScratchSpace.h"

#include <fl/filesystem/path_conversion.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using qbtest::ScopedEnvironment;
using qbtest::TempDirectory;
namespace fs = std::filesystem;

constexpr const char* kAgentName = "RodudedOzovizazServiceHost";

std::string readAll(int fd) {
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            text.append(buffer, static_cast<size_t>(n));
    return text;
}

// One run of the service host with its standard output and error on pipes.
class ServiceHostProcess {
public:
    explicit ServiceHostProcess(const fs::path& program, std::vector<std::string> arguments = {}) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<std::string> words{program.string()};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        const int rc =
            ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        stdoutFd = out[0];
        stderrFd = err[0];
        if (rc != 0)
            throw std::runtime_error("posix_spawn failed");
    }
    ~ServiceHostProcess() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::close(stdoutFd);
        ::close(stderrFd);
    }

    // The first line of standard output; empty when the host ended without one.
    std::string readLine() {
        std::string line;
        char c;
        while (::read(stdoutFd, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

    // The wait status after the host ended.
    int wait() {
        int status = 0;
        ::waitpid(std::exchange(pid, -1), &status, 0);
        return status;
    }

    std::string errorOutput() { return readAll(stderrFd); }
    void signal(int number) const { ::kill(pid, number); }
    pid_t id() const { return pid; }

private:
    pid_t pid = -1;
    int stdoutFd = -1;
    int stderrFd = -1;
};

struct ServiceHostTest : ::testing::Test {
    TempDirectory scratch;
    ScopedEnvironment home{"HOME", (scratch / "home").string()};
    ScopedEnvironment dataHome{"XDG_DATA_HOME", (scratch / "data").string()};
    const fs::path program = QB_SERVICE_HOST_PROGRAM;

    fl::filesystem::basic_path platformLockRoot() const {
        return halvexconnector::folderlocations::FolderLocations(boost::none, boost::none)
            .lockRoot();
    }
    std::vector<agent::control::AgentInfo> runningAgents() const {
        return agent::control::enumerateAllRunningAgents(platformLockRoot(), 3);
    }
    fs::path lockFile() const {
        return fl::filesystem::to_native(platformLockRoot()) / (std::string(kAgentName) + ".lock");
    }
};

bool exitedWith(int status, int code) {
    return WIFEXITED(status) && WEXITSTATUS(status) == code;
}

TEST_F(ServiceHostTest, RegistersUnderThePlatformLockRootAndStopsCleanlyOnSigterm) {
    ServiceHostProcess host(program);
    EXPECT_EQ(host.readLine(), "running " + std::to_string(host.id()) + " " + lockFile().string());
    const auto agents = runningAgents();
    ASSERT_EQ(agents.size(), 1u);
    EXPECT_EQ(agents[0].name, kAgentName);
    EXPECT_EQ(agents[0].pid, host.id());

    host.signal(SIGTERM);
    EXPECT_TRUE(exitedWith(host.wait(), 0));
    EXPECT_TRUE(runningAgents().empty());
}

TEST_F(ServiceHostTest, StopSignalsIgnoredByTheParentStillStopIt) {
    // A background job of a shell starts with SIGINT ignored; the host must still obey it.
    const auto previous = std::signal(SIGINT, SIG_IGN);
    ServiceHostProcess host(program);
    std::signal(SIGINT, previous);
    ASSERT_FALSE(host.readLine().empty());
    host.signal(SIGINT);
    EXPECT_TRUE(exitedWith(host.wait(), 0));
}

TEST_F(ServiceHostTest, SecondInstanceExitsAtOnceWithZeroAndTheFirstKeepsRunning) {
    ServiceHostProcess first(program);
    ASSERT_FALSE(first.readLine().empty());
    ServiceHostProcess second(program);
    EXPECT_EQ(second.readLine(), "");
    EXPECT_TRUE(exitedWith(second.wait(), 0));
    EXPECT_NE(second.errorOutput().find("Another instance"), std::string::npos);

    const auto agents = runningAgents();
    ASSERT_EQ(agents.size(), 1u);
    EXPECT_EQ(agents[0].pid, first.id());
}

TEST_F(ServiceHostTest, AKilledHostLeavesAStaleFileThatIsIgnored) {
    {
        ServiceHostProcess host(program);
        ASSERT_FALSE(host.readLine().empty());
        ASSERT_EQ(runningAgents().size(), 1u);
        host.signal(SIGKILL);
        const int status = host.wait();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    }
    EXPECT_TRUE(fs::exists(lockFile()));
    EXPECT_TRUE(runningAgents().empty());

    ServiceHostProcess next(program);
    EXPECT_FALSE(next.readLine().empty()) << "a stale file must not block a new instance";
    EXPECT_EQ(runningAgents().at(0).pid, next.id());
}

TEST_F(ServiceHostTest, LockRootOptionAndBadArguments) {
    const auto root = scratch / "elsewhere";
    ServiceHostProcess host(program, {"--lock-root", root.string()});
    EXPECT_EQ(host.readLine(), "running " + std::to_string(host.id()) + " " +
                                   (root / (std::string(kAgentName) + ".lock")).string());
    EXPECT_TRUE(runningAgents().empty());

    ServiceHostProcess bad(program, {"--lock-root"});
    EXPECT_TRUE(exitedWith(bad.wait(), 2));
    EXPECT_NE(bad.errorOutput().find("usage"), std::string::npos);
}

TEST_F(ServiceHostTest, UnusableLockRootExitsWithOne) {
    { std::ofstream(scratch / "data") << "a file where the data home should be"; }
    ServiceHostProcess host(program);
    EXPECT_TRUE(exitedWith(host.wait(), 1));
    EXPECT_NE(host.errorOutput().find("cannot register"), std::string::npos);
}

TEST_F(ServiceHostTest, RunsFromOutsideTheInstallTree) {
    const auto copy = scratch / "bin" / "QuillbeckServiceHost";
    fs::create_directories(copy.parent_path());
    fs::copy_file(program, copy);
    ScopedEnvironment noLibraryPath("LD_LIBRARY_PATH", std::nullopt);
    ServiceHostProcess host(copy);
    EXPECT_FALSE(host.readLine().empty()) << host.errorOutput();
    host.signal(SIGTERM);
    EXPECT_TRUE(exitedWith(host.wait(), 0));
}

} // namespace
