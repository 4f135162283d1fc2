#include "child_watch.h"

#include "foundation/core/process/process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fcp = foundation::core::process;
using qbfl_test::eventually;
using qbfl_test::isRunning;
using qbfl_test::isZombieChild;
using qbfl_test::readFile;
using qbfl_test::TempDir;
using ::testing::HasSubstr;

namespace {

const std::string probe = QBFL_PROBE_PATH;

std::vector<std::string> probeArguments(const std::string& report, const std::string& action,
                                        std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments{report, action};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

std::uint32_t run(const std::string& program, std::vector<std::string> arguments,
                  const fcp::context& ctx = {}) {
    fcp::process child(fcp::command(program, std::move(arguments)), ctx);
    return child.exit_status();
}

std::vector<std::string> splitAt(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (auto end = text.find(separator); end != std::string::npos;
         end = text.find(separator, start)) {
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::set<int> descriptorsSeenBy(const std::string& report) {
    std::set<int> seen;
    for (const auto& line : splitAt(readFile(report), '\n')) {
        seen.insert(std::stoi(line));
    }
    return seen;
}

struct StdioEntry {
    unsigned long device = 0;
    unsigned long inode = 0;
    long bytesRead = 0;
};

std::vector<StdioEntry> stdioSeenBy(const std::string& report) {
    std::vector<StdioEntry> entries;
    for (const auto& line : splitAt(readFile(report), '\n')) {
        int descriptor = -1;
        StdioEntry entry;
        EXPECT_EQ(std::sscanf(line.c_str(), "%d %lu %lu %ld", &descriptor, &entry.device,
                              &entry.inode, &entry.bytesRead),
                  4)
            << line;
        entries.push_back(entry);
    }
    return entries;
}

unsigned long nullDeviceNumber() {
    struct stat info {};
    EXPECT_EQ(stat("/dev/null", &info), 0);
    return static_cast<unsigned long>(info.st_rdev);
}

} // namespace

TEST(QbflProcessArguments, ReachTheProgramAsSeparateUnchangedElements) {
    TempDir dir;
    const std::vector<std::string> tricky{"two words", "\"quoted\"", "it's", "back\\slash",
                                          "",          "$HOME *",    "-x",   "line\nbreak",
                                          "Grüße ✓"};
    ASSERT_EQ(run(probe, probeArguments(dir.file("r"), "args", tricky)), 0u);
    EXPECT_EQ(splitAt(readFile(dir.file("r")), '\0'), tricky);
}

TEST(QbflProcessExitStatus, ReportsExitCodesAndSignalsAs128PlusSignal) {
    for (const std::uint32_t code : {0u, 3u, 55u, 255u}) {
        EXPECT_EQ(run(probe, probeArguments("-", "exit", {std::to_string(code)})), code);
    }
    EXPECT_EQ(run(probe, probeArguments("-", "signal", {std::to_string(SIGKILL)})), 128u + 9u);
    EXPECT_EQ(run(probe, probeArguments("-", "signal", {std::to_string(SIGTERM)})), 128u + 15u);
}

TEST(QbflProcessExitStatus, IsKeptAfterTheFirstWait) {
    fcp::process child(fcp::command(probe, probeArguments("-", "exit", {"42"})), {});
    EXPECT_EQ(child.exit_status(), 42u);
    EXPECT_EQ(child.exit_status(), 42u);
    EXPECT_EQ(child.try_exit_status(), 42u);
    EXPECT_EQ(child.exit_descriptor(), -1);
}

TEST(QbflProcessExitStatus, TryDoesNotWaitForARunningChild) {
    fcp::process child(fcp::command(probe, probeArguments("-", "sleep", {"60000"})), {});
    EXPECT_EQ(child.try_exit_status(), std::nullopt);
    EXPECT_GE(child.exit_descriptor(), 0);
    ASSERT_EQ(kill(child.pid(), SIGKILL), 0);
    EXPECT_EQ(child.exit_status(), 137u);
}

TEST(QbflProcessStart, StandardInputIsNullAndOutputIsInherited) {
    TempDir dir;
    ASSERT_EQ(run(probe, probeArguments(dir.file("r"), "stdio")), 0u);
    const auto seen = stdioSeenBy(dir.file("r"));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].device, nullDeviceNumber());
    EXPECT_EQ(seen[0].bytesRead, 0);
    struct stat ours {};
    if (fstat(STDOUT_FILENO, &ours) == 0) {
        EXPECT_EQ(seen[1].inode, static_cast<unsigned long>(ours.st_ino));
    }
}

TEST(QbflProcessStart, NoDescriptorBeyondTheStandardThreeIsInherited) {
    TempDir dir;
    int leaky[2];
    ASSERT_EQ(pipe(leaky), 0); // deliberately without O_CLOEXEC
    const int file = open(dir.file("plain").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(file, 0);

    const auto code = run(probe, probeArguments(dir.file("r"), "fds"));
    close(leaky[0]);
    close(leaky[1]);
    close(file);
    ASSERT_EQ(code, 0u);
    EXPECT_EQ(descriptorsSeenBy(dir.file("r")), (std::set<int>{0, 1, 2}));
}

TEST(QbflProcessStart, ConcurrentStartsLeakNothingAndKeepTheirOwnResults) {
    TempDir dir;
    std::atomic<bool> done{false};
    // Descriptors opened without O_CLOEXEC while other threads start children.
    std::thread churn([&done] {
        while (!done) {
            int fds[2];
            if (pipe(fds) == 0) {
                close(fds[0]);
                close(fds[1]);
            }
        }
    });
    constexpr int threads = 4;
    constexpr int startsPerThread = 6;
    std::vector<std::string> failures[threads];
    std::vector<std::thread> starters;
    for (int t = 0; t < threads; ++t) {
        starters.emplace_back([&, t] {
            for (int i = 0; i < startsPerThread; ++i) {
                const std::string report = dir.file(std::to_string(t) + "-" + std::to_string(i));
                const auto expected = static_cast<std::uint32_t>(10 * t + i);
                if (run(probe, probeArguments("-", "exit", {std::to_string(expected)})) !=
                    expected) {
                    failures[t].push_back("wrong exit code " + std::to_string(expected));
                }
                if (run(probe, probeArguments(report, "fds")) != 0u ||
                    descriptorsSeenBy(report) != std::set<int>{0, 1, 2}) {
                    failures[t].push_back("descriptors leaked into " + report);
                }
            }
        });
    }
    for (auto& starter : starters) {
        starter.join();
    }
    done = true;
    churn.join();
    for (const auto& perThread : failures) {
        EXPECT_THAT(perThread, ::testing::IsEmpty());
    }
}

TEST(QbflProcessStart, FailuresNameTheProgramAndTheSystemReason) {
    TempDir dir;
    const std::string missing = dir.file("no such dir/program");
    try {
        fcp::process child(fcp::command(missing), {});
        FAIL() << "started a missing program";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
        EXPECT_THAT(error.what(), HasSubstr(missing));
        EXPECT_THAT(error.what(), HasSubstr(std::strerror(ENOENT)));
    }

    const std::string notExecutable = dir.file("data.txt");
    std::ofstream(notExecutable) << "not a program\n";
    try {
        fcp::process child(fcp::command(notExecutable), {});
        FAIL() << "started a file without execute permission";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), EACCES);
        EXPECT_THAT(error.what(), HasSubstr(notExecutable));
    }
}

// Another thread's child may briefly hold a freshly written program open for writing; the start
// waits for it instead of failing, and still fails when the program stays busy.
TEST(QbflProcessStart, AProgramBusyBeingWrittenIsStartedOnceReleased) {
    TempDir dir;
    const std::string program = dir.file("fresh.sh");
    const int writer = ::open(program.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0755);
    ASSERT_GE(writer, 0);
    const std::string script = "#!/bin/sh\nexit 3\n";
    ASSERT_EQ(::write(writer, script.data(), script.size()), static_cast<ssize_t>(script.size()));
    try {
        run(program, {});
        FAIL() << "started a program held open for writing";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ETXTBSY);
    }

    std::thread closer([writer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ::close(writer);
    });
    const std::uint32_t code = run(program, {});
    closer.join();
    EXPECT_EQ(code, 3u);
}

TEST(QbflProcessStart, RejectsTextsThatCannotReachAProgram) {
    EXPECT_THROW(fcp::process(fcp::command(""), {}), std::invalid_argument);
    EXPECT_THROW(fcp::process(fcp::command(probe, {std::string("a\0b", 3)}), {}),
                 std::invalid_argument);
    fcp::context badName;
    badName.environment()["A=B"] = "x";
    EXPECT_THROW(fcp::process(fcp::command(probe, {"-", "exit", "0"}), badName),
                 std::invalid_argument);
}

TEST(QbflProcessStart, BareNamesAreLookedUpAlongTheChildsPath) {
    TempDir dir;
    const std::string name = "qbfl-probe-copy-" + std::to_string(getpid());
    std::filesystem::create_symlink(probe, dir.path() / name);

    fcp::context withPath;
    withPath.environment()["PATH"] = "/nonexistent-qbfl:" + dir.path().string();
    EXPECT_EQ(run(name, {"-", "exit", "7"}, withPath), 7u);

    try {
        run(name, {"-", "exit", "7"});
        FAIL() << "found a program that is not on the caller's PATH";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
        EXPECT_THAT(error.what(), HasSubstr(name));
    }
}

TEST(QbflProcessReaping, ObjectDestroyedWhileTheChildRunsLeavesNoZombie) {
    pid_t pid = -1;
    {
        fcp::process child(fcp::command(probe, probeArguments("-", "sleep", {"60000"})), {});
        pid = child.pid();
    }
    ASSERT_TRUE(isRunning(pid)) << "destruction must not stop the child";
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    EXPECT_TRUE(eventually([pid] { return !isZombieChild(pid) && !isRunning(pid); }));
}

TEST(QbflProcessReaping, AReplacedObjectReapsItsEndedChild) {
    fcp::process first(fcp::command(probe, probeArguments("-", "exit", {"0"})), {});
    const pid_t firstPid = first.pid();
    fcp::process second(fcp::command(probe, probeArguments("-", "exit", {"5"})), {});
    const pid_t secondPid = second.pid();
    ASSERT_TRUE(eventually([firstPid] { return isZombieChild(firstPid); }));
    first = std::move(second);
    EXPECT_FALSE(isZombieChild(firstPid));
    EXPECT_EQ(first.pid(), secondPid);
    EXPECT_EQ(first.exit_status(), 5u);
}

TEST(QbflProcessDetached, RunsInItsOwnSessionWithoutTerminalOrCallersOutput) {
    TempDir dir;
    fcp::context detached;
    detached.detached_process(true);
    ASSERT_EQ(run(probe, probeArguments(dir.file("session"), "session"), detached), 0u);
    int pid = 0;
    int session = 0;
    int terminal = -1;
    ASSERT_EQ(
        std::sscanf(readFile(dir.file("session")).c_str(), "%d %d %d", &pid, &session, &terminal),
        3);
    EXPECT_EQ(session, pid);
    EXPECT_NE(session, getsid(0));
    EXPECT_EQ(terminal, 0);

    ASSERT_EQ(run(probe, probeArguments(dir.file("stdio"), "stdio"), detached), 0u);
    for (const auto& entry : stdioSeenBy(dir.file("stdio"))) {
        EXPECT_EQ(entry.device, nullDeviceNumber());
    }
}
