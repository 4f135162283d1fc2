#include "foundation/core/process/process.h"
#include "foundation/core/process/terminate_children.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <tripwire/testsupport/ChildProcess.h>
#include <tripwire/testsupport/InOwnProcess.h>
#include <tripwire/testsupport/TempDirectory.h>
#include <tripwire/testsupport/Thrown.h>

namespace {

namespace fcp = foundation::core::process;
using namespace tripwire::testsupport;
using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string sh = "/bin/sh";

std::uint32_t run(const std::string& program, std::vector<std::string> arguments,
                  const fcp::context& ctx = {}) {
    return fcp::process(fcp::command(program, std::move(arguments)), ctx).exit_status();
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (auto end = text.find(separator); end != std::string::npos;
         end = text.find(separator, start = end + 1))
        parts.push_back(text.substr(start, end - start));
    return parts;
}

// What a shell child sees of itself, by NUL- or line-ended entries ("stdio": /dev/null, fds 0-2).
std::vector<std::string> probed(const std::string& what, const fcp::context& ctx = {},
                                std::vector<std::string> extra = {}) {
    // A subshell takes the redirection, so the shell's own descriptors stay as they came.
    const std::map<std::string, std::string> scripts{
        {"args", R"(printf '%s\0' "$@")"},
        {"environ", "cat /proc/$$/environ"},
        {"fds", "ls /proc/$$/fd"},
        {"stdio",
         "cat >/dev/null; for f in /dev/null /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2; do "
         "stat -Lc '%t:%T %i' $f; done"}};
    TempDirectory dir;
    std::vector<std::string> arguments{"-c", "(" + scripts.at(what) + ") >\"$0\"",
                                       (dir / "r").string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    EXPECT_EQ(run(sh, arguments, ctx), 0u) << what;
    return split(readFile(dir / "r"), what == "args" || what == "environ" ? '\0' : '\n');
}

fcp::process sleeper(bool detached = false) {
    fcp::context ctx;
    ctx.detached_process(detached);
    return fcp::process(fcp::command("/bin/sleep", {"60"}), ctx);
}

TEST(QbflProcess, ChildGetsItsArgumentsNullInputOurOutputNoOtherDescriptorAndExitCodes) {
    const std::vector<std::string> tricky{"two words", "\"q\"", "it's",        "back\\slash", "",
                                          "$HOME *",   "-x",    "line\nbreak", "Grüße ✓"};
    EXPECT_EQ(probed("args", {}, tricky), tricky);
    for (const auto& [how, code] :
         {std::pair{"exit 255", 255u}, {"kill -9 $$", 137u}, {"kill -15 $$", 143u}})
        EXPECT_EQ(run(sh, {"-c", how}), code) << how;
    fcp::process child(fcp::command(sh, {"-c", "exec sleep 60"}), {});
    EXPECT_EQ(child.try_exit_status(), std::nullopt);
    ::kill(child.pid(), SIGKILL);
    EXPECT_EQ(child.exit_status(), 137u);
    EXPECT_EQ(child.try_exit_status(), 137u) << "kept after the first wait";
    EXPECT_EQ(child.exit_descriptor(), -1);
    int leaky[2];
    ASSERT_EQ(::pipe(leaky), 0); // deliberately without O_CLOEXEC
    const auto fds = probed("fds");
    ::close(leaky[0]);
    ::close(leaky[1]);
    EXPECT_EQ(fds, (std::vector<std::string>{"0", "1", "2"}));
    const auto stdio = probed("stdio");
    ASSERT_EQ(stdio.size(), 4u);
    EXPECT_EQ(stdio[1], stdio[0]) << "input from /dev/null";
    struct stat ours {};
    ASSERT_EQ(::fstat(STDOUT_FILENO, &ours), 0);
    EXPECT_EQ(split(stdio[2] + " ", ' ')[1], std::to_string(ours.st_ino));
    fcp::context detached;
    detached.detached_process(true);
    const auto detachedStdio = probed("stdio", detached);
    for (const auto& line : detachedStdio)
        EXPECT_EQ(line, detachedStdio.at(0)) << "not even the caller's output";
}

TEST(QbflProcess, ContextVariablesAreLaidOverTheCallersAndFailedStartsNameTheReason) {
    TempDirectory dir;
    writeFile(dir / "data.txt", "not a program\n");
    ::symlink(sh.c_str(), (dir / "probe-copy").c_str());
    fcp::context withPath;
    withPath.environment()["PATH"] = "/nonexistent-qbfl:" + dir.path().string();
    EXPECT_EQ(run("probe-copy", {"-c", "exit 7"}, withPath), 7u) << "found on the child's PATH";
    const std::pair<std::string, int> failures[] = {{(dir / "no dir/program").string(), ENOENT},
                                                    {(dir / "data.txt").string(), EACCES},
                                                    {"probe-copy", ENOENT}};
    for (const auto& [program, code] : failures) {
        const auto error = thrown<std::system_error>([&] { run(program, {}); });
        ASSERT_TRUE(error) << program;
        EXPECT_EQ(error->code().value(), code) << program;
        EXPECT_THAT(error->what(), HasSubstr(program));
        EXPECT_THAT(error->what(), HasSubstr(std::strerror(code)));
    }
    fcp::context badName;
    badName.environment()["A=B"] = "x";
    EXPECT_THROW(run(sh, {"-c", "exit 0"}, badName), std::invalid_argument);
    EXPECT_THROW(run("", {}), std::invalid_argument);
    EXPECT_THROW(run(sh, {std::string("a\0b", 3)}), std::invalid_argument);
    fcp::context ctx;
    auto& environment = ctx.environment();
    environment["QBFL_TEST_REPLACED"] = "first";
    environment["qbfl_test_replaced"] = "from the context";
    environment["QBFL_TEST_ADDED"] = "a=b c";
    environment["Path"] = "/opt/qbfl-test/bin";
    ASSERT_EQ(environment.size(), 3u);
    const foundation::core::util::lexicographical_iless less;
    EXPECT_TRUE(less("A_", "AB") && less("a_", "ab")) << "'_' is not folded";
    ScopedVariable kept("QBFL_TEST_KEPT", "kept value");
    ScopedVariable replaced("QBFL_TEST_REPLACED", "from the caller");
    ScopedVariable path("PATH", "/usr/bin:/bin");
    const auto seen = probed("environ", ctx);
    for (const char* entry : {"QBFL_TEST_KEPT=kept value", "QBFL_TEST_REPLACED=from the context",
                              "QBFL_TEST_ADDED=a=b c", "Path=/opt/qbfl-test/bin"})
        EXPECT_THAT(seen, Contains(entry));
    for (const char* replaced : {"QBFL_TEST_REPLACED=from the caller", "PATH=/usr/bin:/bin"})
        EXPECT_THAT(seen, Not(Contains(replaced)));
}

// Another thread's child may briefly hold a freshly written program open for writing (ETXTBSY);
// the start waits for it instead of failing, and still fails when the program stays busy.
TEST(QbflProcess, AProgramBusyBeingWrittenIsStartedOnceReleased) {
    TempDirectory dir;
    const std::string program = (dir / "fresh.sh").string();
    const int writer = ::open(program.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0755);
    ASSERT_GE(writer, 0);
    const std::string script = "#!/bin/sh\nexit 3\n";
    ASSERT_EQ(::write(writer, script.data(), script.size()), static_cast<ssize_t>(script.size()));
    EXPECT_EQ(thrown<std::system_error>([&] { run(program, {}); }).value().code().value(), ETXTBSY);
    std::thread closer([writer] {
        std::this_thread::sleep_for(20ms);
        ::close(writer);
    });
    const std::uint32_t code = run(program, {});
    closer.join();
    EXPECT_EQ(code, 3u);
    fcp::process first(fcp::command(sh, {"-c", "exit 0"}), {});
    const pid_t firstPid = first.pid();
    ASSERT_TRUE(eventually([firstPid] { return isZombieChild(firstPid); }));
    first = fcp::process(fcp::command(sh, {"-c", "exit 5"}), {});
    EXPECT_FALSE(isZombieChild(firstPid)) << "a replaced object reaps its ended child";
    EXPECT_EQ(first.exit_status(), 5u);
}

// terminate_children is one-way for the whole process: each case runs in a process of its own.
TEST(QbflTerminateChildren, EndsAttachedChildrenAndLeavesDetachedOnes) {
    inOwnProcess([] {
        fcp::process polite = sleeper();
        fcp::process serviceHost = sleeper(true);
        pid_t orphan = sleeper().pid(); // handed to the reaper, still ours to end
        EXPECT_TRUE(isRunning(orphan)) << "destruction must not stop the child";
        // A waiter already blocked in exit_status is released, as an installer run's is.
        std::atomic<std::uint32_t> seenByWaiter{0};
        std::thread waiter([&] { seenByWaiter = polite.exit_status(); });
        fcp::terminate_children(200ms);
        waiter.join();
        EXPECT_EQ(seenByWaiter.load(), 128u + SIGTERM);
        EXPECT_TRUE(eventually([&] { return !procStat(orphan).has_value(); }));
        EXPECT_TRUE(isRunning(serviceHost.pid()));
        const std::string refused = whatThrown<std::runtime_error>([] { sleeper(); });
        EXPECT_THAT(refused, HasSubstr("/bin/sleep"));
        EXPECT_THAT(refused, HasSubstr("shutting down"));
        fcp::process detached = sleeper(true);
        for (auto* child : {&detached, &serviceHost}) {
            ::kill(child->pid(), SIGKILL);
            EXPECT_EQ(child->exit_status(), 128u + SIGKILL);
        }
        fcp::terminate_children(); // a second call finds nothing to do
    });
}

TEST(QbflTerminateChildren, NoLaunchRacingTheCallEscapesIt) {
    inOwnProcess([] {
        std::atomic<int> refused{0};
        std::vector<std::thread> launchers;
        std::vector<std::vector<fcp::process>> launched(4);
        for (auto& mine : launched) {
            launchers.emplace_back([&refused, &mine] {
                try {
                    while (true)
                        mine.push_back(sleeper());
                } catch (const std::runtime_error&) {
                    ++refused;
                }
            });
        }
        std::this_thread::sleep_for(50ms);
        fcp::terminate_children(500ms);
        for (auto& thread : launchers)
            thread.join();
        EXPECT_EQ(refused.load(), 4) << "every launcher ran into the refusal";
        std::size_t total = 0;
        for (auto& mine : launched) {
            total += mine.size();
            for (auto& child : mine)
                EXPECT_EQ(child.exit_status(), 128u + SIGTERM);
        }
        EXPECT_GT(total, 0u);
    });
}

} // namespace
