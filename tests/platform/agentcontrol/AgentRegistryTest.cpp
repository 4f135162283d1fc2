#include "agent/control/AgentRegistration.h"
#include "agent/control/AgentSelection.h"
#include "agent/control/LockFileProbe.h"

#include "support/ScratchSpace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace agent::control {
namespace {

using qbtest::TempDirectory;

std::vector<std::string> namesOf(const std::vector<AgentInfo>& agents) {
    std::vector<std::string> names;
    for (const auto& agent : agents)
        names.push_back(agent.name);
    return names;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path) << text;
}

// Asks the kernel directly, independent of the code under test.
bool someoneHoldsLock(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

TEST(AgentRegistryEnumeration, EmptyMissingOrFileRootGivesEmptyList) {
    TempDirectory scratch;
    EXPECT_TRUE(enumerateRunningAgentsUnder({}, ALL_AGENTS).empty());
    EXPECT_TRUE(enumerateRunningAgentsUnder(scratch / "missing", ALL_AGENTS).empty());
    EXPECT_TRUE(enumerateRunningAgentsUnder(scratch.path(), ALL_AGENTS).empty());
    writeFile(scratch / "plain", "x");
    EXPECT_TRUE(enumerateRunningAgentsUnder(scratch / "plain", ALL_AGENTS).empty());
}

TEST(AgentRegistryEnumeration, UnreadableRootGivesEmptyList) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every directory";
    TempDirectory scratch;
    AgentRegistration agent(scratch / "locks", "Agent");
    std::filesystem::permissions(scratch / "locks", std::filesystem::perms::none);
    EXPECT_TRUE(enumerateRunningAgentsUnder(scratch / "locks", ALL_AGENTS).empty());
}

TEST(AgentRegistryEnumeration, StaleAndForeignFilesAreIgnored) {
    TempDirectory scratch;
    const auto root = scratch / "locks";
    AgentRegistration running(root, "Running");
    writeFile(root / "Stale.lock", "4242\nStale\n"); // left behind by an agent that died
    writeFile(root / "notes.txt", "not a lock file");
    writeFile(root / ".lock", "a suffix without a name");
    std::filesystem::create_directory(root / "Directory.lock");
    ASSERT_EQ(::mkfifo((root / "Fifo.lock").c_str(), 0600), 0);
    std::filesystem::create_symlink(running.lockFile(), root / "Link.lock");

    const auto agents = enumerateRunningAgentsUnder(root, ALL_AGENTS);
    ASSERT_EQ(namesOf(agents), std::vector<std::string>{"Running"});
    EXPECT_EQ(agents[0].pid, ::getpid());
    EXPECT_EQ(agents[0].lockFile, root / "Running.lock");

    // The short answer agrees, and none of the leftovers counts once the agent is gone.
    EXPECT_TRUE(isAnyAgentRunningUnder(root, ALL_AGENTS));
    running.release();
    EXPECT_FALSE(isAnyAgentRunningUnder(root, ALL_AGENTS));
    EXPECT_FALSE(isAnyAgentRunningUnder(scratch / "missing", ALL_AGENTS));
}

TEST(AgentRegistryEnumeration, ListsEveryRunningAgentSortedAndDropsReleasedOnes) {
    TempDirectory scratch;
    const auto root = scratch.path();
    AgentRegistration b(root, "Beta");
    AgentRegistration a(root, "Alpha");
    {
        AgentRegistration c(root, "Gamma");
        EXPECT_EQ(namesOf(enumerateRunningAgentsUnder(root, ALL_AGENTS)),
                  (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
    }
    b.release();
    EXPECT_EQ(namesOf(enumerateRunningAgentsUnder(root, ALL_AGENTS)),
              std::vector<std::string>{"Alpha"});
    EXPECT_TRUE(std::filesystem::exists(root / "Gamma.lock")) << "files stay, only locks go";
}

TEST(AgentRegistryEnumeration, SelectionBitsChooseByOwner) {
    TempDirectory scratch;
    AgentRegistration mine(scratch.path(), "Mine");
    EXPECT_EQ(enumerateRunningAgentsUnder(scratch.path(), AGENTS_OF_CURRENT_USER).size(), 1u);
    EXPECT_EQ(enumerateRunningAgentsUnder(scratch.path(), 3u).size(), 1u);
    EXPECT_TRUE(enumerateRunningAgentsUnder(scratch.path(), AGENTS_OF_OTHER_USERS).empty());
    EXPECT_TRUE(enumerateRunningAgentsUnder(scratch.path(), 0u).empty());
    EXPECT_TRUE(isAnyAgentRunningUnder(scratch.path(), AGENTS_OF_CURRENT_USER));
    EXPECT_FALSE(isAnyAgentRunningUnder(scratch.path(), AGENTS_OF_OTHER_USERS));
    EXPECT_FALSE(isAnyAgentRunningUnder(scratch.path(), 0u));
}

TEST(AgentRegistryEnumeration, UnparsableContentStillCountsAsRunningWithUnknownPid) {
    TempDirectory scratch;
    AgentRegistration agent(scratch.path(), "Agent");
    // A file being rewritten may be seen cut short; the pid must not be guessed from it.
    for (const std::string content : {"", "12", "12\n", "x1\nAgent\n", "-5\nAgent\n"}) {
        ASSERT_EQ(::truncate(agent.lockFile().c_str(), 0), 0);
        writeFile(agent.lockFile(), content);
        const auto agents = enumerateRunningAgentsUnder(scratch.path(), ALL_AGENTS);
        ASSERT_EQ(agents.size(), 1u) << content;
        EXPECT_EQ(agents[0].pid, 0) << content;
    }
}

TEST(AgentRegistryProbe, DoesNotDisturbTheHolder) {
    TempDirectory scratch;
    AgentRegistration holder(scratch.path(), "Holder");
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(enumerateRunningAgentsUnder(scratch.path(), ALL_AGENTS).size(), 1u);
        ASSERT_TRUE(probeLockFile(holder.lockFile()).has_value());
    }
    // Closing a descriptor would drop a classic POSIX lock of this process; ours must survive.
    EXPECT_TRUE(someoneHoldsLock(holder.lockFile()));
    EXPECT_THROW(AgentRegistration(scratch.path(), "Holder"), AgentAlreadyRunning);
    EXPECT_EQ(readFile(holder.lockFile()), std::to_string(::getpid()) + "\nHolder\n");
}

TEST(AgentRegistration, CreatesTheRootAndAPrivateFileWithPidAndName) {
    TempDirectory scratch;
    const auto root = scratch / "a" / "b" / "locks";
    AgentRegistration agent(root, "Service Host");
    EXPECT_EQ(agent.lockFile(), root / "Service Host.lock");
    EXPECT_EQ(readFile(agent.lockFile()), std::to_string(::getpid()) + "\nService Host\n");
    struct stat info {};
    ASSERT_EQ(::stat(agent.lockFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(AgentRegistration, RewritesAStaleFileCompletely) {
    TempDirectory scratch;
    writeFile(scratch / "Agent.lock", "123456789\nAgent with a much longer old name\n");
    AgentRegistration agent(scratch.path(), "Agent");
    EXPECT_EQ(readFile(agent.lockFile()), std::to_string(::getpid()) + "\nAgent\n");
}

TEST(AgentRegistration, SecondInstanceFailsClearlyAndFirstKeepsRunning) {
    TempDirectory scratch;
    AgentRegistration first(scratch.path(), "Agent");
    try {
        AgentRegistration second(scratch.path(), "Agent");
        FAIL() << "a second instance registered";
    } catch (const AgentAlreadyRunning& error) {
        EXPECT_NE(std::string(error.what()).find("pid " + std::to_string(::getpid())),
                  std::string::npos)
            << error.what();
    }
    EXPECT_EQ(readFile(first.lockFile()), std::to_string(::getpid()) + "\nAgent\n");
    first.release();
    EXPECT_NO_THROW(AgentRegistration(scratch.path(), "Agent"));
}

TEST(AgentRegistration, RejectsNamesThatAreNotPlainFileNames) {
    TempDirectory scratch;
    for (const std::string& name :
         std::vector<std::string>{"", ".", "..", "a/b", "../escape", std::string("a\0b", 3)})
        EXPECT_THROW(AgentRegistration(scratch.path(), name), std::invalid_argument) << name;
    EXPECT_THROW(AgentRegistration({}, "Agent"), std::invalid_argument);
    EXPECT_TRUE(std::filesystem::is_empty(scratch.path()));
}

TEST(AgentRegistration, FailsWhenTheRootCannotBeCreated) {
    TempDirectory scratch;
    writeFile(scratch / "file", "x");
    EXPECT_THROW(AgentRegistration(scratch / "file" / "locks", "Agent"), std::system_error);
}

TEST(AgentRegistration, MovedRegistrationKeepsTheLock) {
    TempDirectory scratch;
    AgentRegistration original(scratch.path(), "Agent");
    AgentRegistration moved(std::move(original));
    original.release(); // a moved-from object owns nothing
    EXPECT_TRUE(someoneHoldsLock(moved.lockFile()));
    AgentRegistration other(scratch.path(), "Other");
    moved = std::move(other);
    EXPECT_EQ(namesOf(enumerateRunningAgentsUnder(scratch.path(), ALL_AGENTS)),
              std::vector<std::string>{"Other"});
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
                    if (agent.name == "Steady")
                        steadySeen = agent.pid == ::getpid();
                    else if (agent.name.rfind("Transient", 0) != 0)
                        ++failures;
                    if (agent.pid != 0 && agent.pid != ::getpid())
                        ++failures;
                }
                if (!steadySeen)
                    ++failures;
            }
        });
    }
    for (int round = 0; round < 200; ++round) {
        AgentRegistration transient(root, "Transient" + std::to_string(round % 4));
        if (round % 3 == 0)
            std::this_thread::yield();
    }
    stop = true;
    for (auto& thread : enumerators)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(namesOf(enumerateRunningAgentsUnder(root, ALL_AGENTS)),
              std::vector<std::string>{"Steady"});
}

} // namespace
} // namespace agent::control
