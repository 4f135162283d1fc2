#include <foundation/feature/management/process/DataPtr.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using foundation::feature::detail::State;
using foundation::feature::management::process::getDataPtr;

TEST(FeatureStateTest, OneRecordPerName) {
    State* a = getDataPtr("QSHTripwireStartupTELX");
    State* b = getDataPtr("QSHInstallErrorTELX");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(getDataPtr(std::string("QSHTripwireStartupTELX")), a);
    EXPECT_EQ(a->getName(), "QSHTripwireStartupTELX");
    EXPECT_EQ(b->getName(), "QSHInstallErrorTELX");
    // Names are case-sensitive, like the settings.
    EXPECT_NE(getDataPtr("qshtripwirestartuptelx"), a);
}

TEST(FeatureStateTest, RecordsStayPutWhileManyMoreAreAdded) {
    State* first = getDataPtr("StableFlag");
    for (int i = 0; i < 5000; ++i) {
        getDataPtr("Filler" + std::to_string(i));
    }
    EXPECT_EQ(getDataPtr("StableFlag"), first);
    EXPECT_EQ(first->getName(), "StableFlag");
}

TEST(FeatureStateTest, ConcurrentFirstLookupsGetTheSameRecord) {
    constexpr int threadCount = 8;
    for (int round = 0; round < 20; ++round) {
        const std::string name = "RaceFlag" + std::to_string(round);
        std::vector<State*> seen(threadCount, nullptr);
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back([&seen, &name, t] { seen[t] = getDataPtr(name); });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        for (State* state : seen) {
            EXPECT_EQ(state, seen.front()) << name;
        }
    }
}

TEST(FeatureStateTest, EmptyNameIsRejected) {
    EXPECT_THROW(getDataPtr(""), std::invalid_argument);
}

} // namespace
