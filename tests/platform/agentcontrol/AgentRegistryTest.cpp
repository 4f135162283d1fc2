#include "agent/control/AgentDiscovery.h"
#include "agent/control/AgentRegistration.h"
#include "agent/control/AgentSelection.h"
#include "agent/control/LockFileProbe.h"

#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <tripwire/testsupport/TempDirectory.h>
#include <tripwire/testsupport/Thrown.h>

namespace agent::control {
namespace {

using namespace tripwire::testsupport;

std::vector<std::string> running(const std::filesystem::path& root, unsigned selection = 3) {
    std::vector<std::string> names;
    for (const auto& agent : enumerateRunningAgentsUnder(root, selection))
        names.push_back(agent.name +
                        (agent.pid == ::getpid() ? "" : ":" + std::to_string(agent.pid)));
    EXPECT_EQ(isAnyAgentRunningUnder(root, selection), !names.empty()) << "the answers agree";
    return names;
}

// Asks the kernel directly, independent of the code under test.
bool someoneHoldsLock(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct flock probe {};
    probe.l_type = F_WRLCK;
    const bool held = fd >= 0 && ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

std::string contentFor(const std::string& name) {
    return std::to_string(::getpid()) + "\n" + name + "\n";
}

TEST(AgentRegistry, ListsHeldLocksOnlyProbesWithoutDisturbingThemAndRefusesSecondsAndBadNames) {
    TempDirectory scratch;
    const auto root = scratch / "a/b/locks";
    AgentRegistration beta(root, "Beta");
    AgentRegistration alpha(root, "Alpha");
    EXPECT_EQ(readFile(alpha.lockFile()), contentFor("Alpha"));
    EXPECT_EQ(modeOf(alpha.lockFile()), 0600u);
    writeFile(root / "Stale.lock", "4242\nStale\n"); // left behind by an agent that died
    writeFile(root / "notes.txt", "not a lock file");
    writeFile(root / ".lock", "a suffix without a name");
    std::filesystem::create_directory(root / "Directory.lock");
    ASSERT_EQ(::mkfifo((root / "Fifo.lock").c_str(), 0600), 0); // never opened: it would block
    std::filesystem::create_symlink(alpha.lockFile(), root / "Link.lock");
    {
        AgentRegistration gamma(root, "Gamma");
        EXPECT_EQ(running(root), (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
    }
    beta.release();
    EXPECT_EQ(running(root), std::vector<std::string>{"Alpha"});
    EXPECT_TRUE(std::filesystem::exists(root / "Gamma.lock")) << "files stay, only locks go";
    EXPECT_EQ(running(root, AGENTS_OF_CURRENT_USER).size(), 1u);
    EXPECT_TRUE(running(root, AGENTS_OF_OTHER_USERS).empty());
    EXPECT_TRUE(running(root, 0).empty());
    for (const auto& empty : {std::filesystem::path(), scratch / "missing", root / "notes.txt"})
        EXPECT_TRUE(running(empty).empty()) << empty;
    // Content cut short still counts as running, with an unknown pid.
    for (const std::string content : {"", "12", "12\n", "x1\nAlpha\n", "-5\nAlpha\n"}) {
        ASSERT_EQ(::truncate(alpha.lockFile().c_str(), 0), 0);
        writeFile(alpha.lockFile(), content);
        EXPECT_EQ(running(root), std::vector<std::string>{"Alpha:0"}) << content;
    }
    alpha.release();
    EXPECT_TRUE(running(root).empty());
    writeFile(root / "Agent.lock", "123456789\nAgent with a much longer old name\n");
    AgentRegistration holder(root, "Agent");
    EXPECT_EQ(readFile(holder.lockFile()), contentFor("Agent")) << "a stale file is rewritten";
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(running(root).size(), 1u);
        ASSERT_TRUE(probeLockFile(holder.lockFile()).has_value());
    }
    // Closing a descriptor would drop a classic POSIX lock of this process; ours must survive.
    EXPECT_TRUE(someoneHoldsLock(holder.lockFile()));
    const auto refused = whatThrown<AgentAlreadyRunning>([&] { AgentRegistration(root, "Agent"); });
    EXPECT_NE(refused.find("pid " + std::to_string(::getpid())), std::string::npos) << refused;
    EXPECT_EQ(readFile(holder.lockFile()), contentFor("Agent"));
    AgentRegistration moved(std::move(holder));
    holder.release(); // a moved-from object owns nothing
    EXPECT_TRUE(someoneHoldsLock(moved.lockFile()));
    moved = AgentRegistration(root, "Other");
    EXPECT_EQ(running(root), std::vector<std::string>{"Other"});
    writeFile(scratch / "file");
    for (const std::string& name :
         std::vector<std::string>{"", ".", "..", "a/b", "../escape", std::string("a\0b", 3)})
        EXPECT_THROW(AgentRegistration(scratch / "sub", name), std::invalid_argument) << name;
    EXPECT_THROW(AgentRegistration({}, "Agent"), std::invalid_argument);
    EXPECT_THROW(AgentRegistration(scratch / "file/locks", "Agent"), std::system_error);
    EXPECT_FALSE(std::filesystem::exists(scratch / "sub"));
    EXPECT_TRUE(enumerateAllRunningAgents(fl::filesystem::basic_path(), 3).empty());
}

TEST(AgentRegistryConcurrency, EnumeratorsSeeAConsistentRegistryWhileAgentsComeAndGo) {
    TempDirectory scratch;
    const auto root = scratch.path();
    AgentRegistration steady(root, "Steady");
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> enumerators;
    for (int t = 0; t < 8; ++t) {
        enumerators.emplace_back([&] {
            while (!stop.load()) {
                bool steadySeen = false;
                for (const auto& agent : enumerateRunningAgentsUnder(root, ALL_AGENTS)) {
                    steadySeen |= agent.name == "Steady" && agent.pid == ::getpid();
                    failures += agent.name != "Steady" && !agent.name.starts_with("Transient");
                    failures += agent.pid != 0 && agent.pid != ::getpid();
                }
                failures += !steadySeen;
            }
        });
    }
    for (int round = 0; round < 200; ++round)
        AgentRegistration transient(root, "Transient" + std::to_string(round % 4));
    stop = true;
    for (auto& thread : enumerators)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(running(root), std::vector<std::string>{"Steady"});
}

} // namespace
} // namespace agent::control
