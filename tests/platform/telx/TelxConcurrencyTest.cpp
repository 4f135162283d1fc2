#include "TelxTestSupport.h"

#include <atomic>
#include <map>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace {

using tripwire::test::TelemetryDirTest;

constexpr int threadsPerProcess = 8;
constexpr int eventsPerThread = 1000;

// Logs from several threads at once; returns the number of calls that threw.
int logFromThreads(const char* role) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadsPerProcess; ++t) {
        threads.emplace_back([&failures, role, t] {
            auto& service = telx::LoggingService::getService();
            auto id = tripwire::test::identification("HX_QSH_STARTUP_TIMING");
            for (int i = 0; i < eventsPerThread; ++i) {
                telx::TelxData data;
                data.setKeyValue("role", role);
                data.setKeyValue("thread", std::to_string(t));
                data.setKeyValue("index", std::to_string(i));
                try {
                    service.logData(id, data, telx::TelxOption::defaultOption);
                } catch (...) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    return failures;
}

using TelxConcurrencyTest = TelemetryDirTest;

TEST_F(TelxConcurrencyTest, TwoProcessesOfEightThreadsLoseAndMangleNothing) {
    // An event before the fork: the child must still number its own events from 1.
    const auto beforeFork = log(telx::TelxData{});

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(logFromThreads("child") == 0 ? 0 : 1);
    }
    EXPECT_EQ(logFromThreads("parent"), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;

    const auto text = lines();
    ASSERT_EQ(text.size(), 1u + 2 * threadsPerProcess * eventsPerThread);

    std::map<int, std::uint64_t> lastSeq{{::getpid(), beforeFork}, {child, 0}};
    std::set<std::tuple<std::string, std::string, std::string>> seen;
    for (std::size_t n = 1; n < text.size(); ++n) {
        const auto event = nlohmann::json::parse(text[n], nullptr, false);
        ASSERT_FALSE(event.is_discarded()) << "line " << n << ": " << text[n];
        const int pid = event["pid"];
        ASSERT_TRUE(lastSeq.count(pid)) << text[n];
        // Numbers follow file order within each process, without gaps.
        ASSERT_EQ(event["seq"].get<std::uint64_t>(), lastSeq[pid] + 1) << text[n];
        lastSeq[pid] = event["seq"];
        const auto& data = event["data"];
        ASSERT_EQ(data["role"], pid == child ? "child" : "parent") << text[n];
        ASSERT_TRUE(seen.emplace(data["role"], data["thread"], data["index"]).second) << text[n];
    }
    EXPECT_EQ(lastSeq[child], std::uint64_t(threadsPerProcess * eventsPerThread));
    EXPECT_EQ(lastSeq[::getpid()], beforeFork + threadsPerProcess * eventsPerThread);
}

} // namespace
