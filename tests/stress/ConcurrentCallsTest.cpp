// Sixteen threads mix the four operations while the framework is stopped and started again
// underneath them: every call returns, nothing crashes, no working directory is left.
#include "StressSupport.h"

#include <halvexconnector/latestversion/installationdiscovery/LatestInstallFile.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <iostream>
#include <sstream>

namespace tripwire_stress {
namespace {

using namespace halvexconnector::tripwire;
using namespace std::chrono_literals;

constexpr int threadCount = 16;
constexpr int callsPerThread = 20;
constexpr int operationCount = 4;
constexpr std::uint32_t requiredVersion[4] = {1, 0, 0, 0};

// How one call ended, for the checks after all threads are done.
struct CallOutcome {
    int operation = 0;
    HALVEXServicesMode mode = DRIVE;
    int result = -1;      // the returned value, -1 when the call threw
    bool settled = false; // no restart began or ended while the call ran
    bool fresh = false;   // made on a service object obtained after the restart
    std::string failure;  // the exception's text
};

// A generation counter that is odd while the framework is being restarted.
class Generations {
public:
    std::uint64_t now() const { return value.load(); }
    void advance() { ++value; }
    static bool quiet(std::uint64_t before, std::uint64_t after) {
        return before == after && before % 2 == 0;
    }

private:
    std::atomic<std::uint64_t> value{0};
};

class ConcurrentCalls : public ::testing::Test {
protected:
    void SetUp() override {
        home.offer(kciArchiveWithInstaller("exit 0"));
        const fs::path launcher = writeScript(home.root() / "launcher", "exit 0");
        fs::create_directories(home.driveStorageRoot());
        halvexconnector::latestversion::installationdiscovery::writeLatestInstallFile(
            home.driveStorageRoot(),
            {"9.1.0.7", launcher.parent_path().string(), launcher.string()});
    }

    // One call of `operation`; mode alternates so both lock roots and discovery roots are used,
    // except for installs, which stay in the drive mode (no minute-long service start wait).
    CallOutcome call(ITripwire& tripwire, int operation, int index) {
        CallOutcome outcome;
        outcome.operation = operation;
        outcome.mode = (operation == 3 || index % 2 == 0) ? DRIVE : STANDARD;
        switch (operation) {
        case 0:
            outcome.result = tripwire.areHALVEXServicesRunning(outcome.mode) ? 1 : 0;
            break;
        case 1:
            outcome.result =
                tripwire.checkHALVEXServicesInstallation(outcome.mode, requiredVersion);
            break;
        case 2:
            outcome.result = tripwire.startHALVEXServices(outcome.mode);
            break;
        default:
            outcome.result = tripwire.installAndStartHALVEXServices(outcome.mode, "stress",
                                                                    boost::none, boost::none);
            break;
        }
        return outcome;
    }

    // What a call that no restart disturbed must return.
    static int expected(const CallOutcome& outcome) {
        switch (outcome.operation) {
        case 0:
            return 0; // no agent runs anywhere
        case 1:
            return outcome.mode == DRIVE ? INSTALLED : NOT_INSTALLED;
        case 2:
            return outcome.mode == DRIVE ? INSTALLED_AND_STARTED : INSTALL_FAILED;
        default:
            return INSTALLED_AND_STARTED;
        }
    }

    StressHome home;
};

TEST_F(ConcurrentCalls, MixedOperationsSurviveAFrameworkRestartUnderneath) {
    auto host = std::make_unique<BundleHost>();
    Generations generations;
    std::atomic<int> finished{0};
    std::atomic<int> started{0};
    std::array<std::vector<CallOutcome>, threadCount> outcomes;
    std::shared_ptr<ITripwire> before = host->tripwire();
    ASSERT_TRUE(before);

    {
        Watchdog watchdog(50s, [&] {
            std::ostringstream text;
            text << started.load() << " calls started, " << finished.load() << " of "
                 << threadCount * callsPerThread << " returned, generation " << generations.now();
            return text.str();
        });
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < callsPerThread; ++i) {
                    const std::uint64_t first = generations.now();
                    std::shared_ptr<ITripwire> tripwire = host->tripwire();
                    while (!tripwire) { // a restart is under way: the next framework comes
                        std::this_thread::sleep_for(1ms);
                        tripwire = host->tripwire();
                    }
                    const bool fresh = tripwire != before && first >= 2;
                    ++started;
                    CallOutcome outcome;
                    const int operation = (t + i) % operationCount;
                    try {
                        outcome = call(*tripwire, operation, i);
                    } catch (const std::exception& error) {
                        outcome.operation = operation;
                        outcome.failure = error.what();
                    }
                    outcome.settled = Generations::quiet(first, generations.now());
                    outcome.fresh = fresh;
                    outcomes[static_cast<std::size_t>(t)].push_back(std::move(outcome));
                    ++finished;
                }
            });
        }
        // Underneath the calls, once half of them are done.
        while (finished.load() < threadCount * callsPerThread / 2) {
            std::this_thread::sleep_for(1ms);
        }
        generations.advance();
        host->restart();
        generations.advance();
        for (auto& thread : threads) {
            thread.join();
        }
    }

    std::shared_ptr<ITripwire> after = host->tripwire();
    ASSERT_TRUE(after);
    EXPECT_NE(after.get(), before.get()) << "the restarted framework made a new service object";
    before.reset();

    int settledCalls = 0;
    int freshCalls = 0;
    int returnedInstalls = 0;
    for (const auto& ofThread : outcomes) {
        ASSERT_EQ(ofThread.size(), static_cast<std::size_t>(callsPerThread));
        for (const CallOutcome& outcome : ofThread) {
            if (outcome.operation == 3 && outcome.failure.empty()) {
                ++returnedInstalls;
            }
            freshCalls += outcome.fresh ? 1 : 0;
            if (!outcome.settled) {
                continue; // crossed the restart: any result or failure, as long as it returned
            }
            ++settledCalls;
            EXPECT_EQ(outcome.failure, "") << "operation " << outcome.operation;
            EXPECT_EQ(outcome.result, expected(outcome))
                << "operation " << outcome.operation << " in mode " << outcome.mode;
        }
    }
    int threw = 0;
    for (const auto& ofThread : outcomes) {
        for (const CallOutcome& outcome : ofThread) {
            threw += outcome.failure.empty() ? 0 : 1;
        }
    }
    std::cout << "calls: " << threadCount * callsPerThread
              << ", undisturbed by the restart: " << settledCalls
              << ", on the new service object: " << freshCalls
              << ", ended by an exception: " << threw << ", installs returned: " << returnedInstalls
              << std::endl;
    EXPECT_GT(freshCalls, 0) << "calls ran on the new service object";
    EXPECT_GE(settledCalls, threadCount * callsPerThread / 2);

    // One event for every install that returned, each with the result it returned.
    const auto events = home.installEvents();
    EXPECT_EQ(events.size(), static_cast<std::size_t>(returnedInstalls));
    for (const auto& event : events) {
        if (event.value("installResult", "") != "INSTALLED_AND_STARTED") {
            std::cout << "install that did not succeed: " << event.dump() << std::endl;
        }
    }

    after.reset();
    host.reset(); // the last service objects go, and with them any queued removals
    EXPECT_EQ(home.leftoverWorkingDirectories(), std::vector<fs::path>());
}

} // namespace
} // namespace tripwire_stress
