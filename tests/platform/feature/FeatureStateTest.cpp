#include "TestFeature.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using foundation::feature::Feature;
using foundation::feature::detail::State;
using foundation::feature::management::process::getDataPtr;

TEST(FeatureStateTest, OneRecordPerNameThatStaysPut) {
    State* startup = getDataPtr("QSHTripwireStartupTELX");
    State* install = getDataPtr("QSHInstallErrorTELX");
    ASSERT_NE(startup, nullptr);
    EXPECT_NE(startup, install);
    EXPECT_NE(getDataPtr("qshtripwirestartuptelx"), startup); // case-sensitive
    for (int i = 0; i < 5000; ++i) {
        getDataPtr("Filler" + std::to_string(i));
    }
    EXPECT_EQ(getDataPtr("QSHTripwireStartupTELX"), startup);
    EXPECT_EQ(startup->getName(), "QSHTripwireStartupTELX");
    EXPECT_THROW(getDataPtr(""), std::invalid_argument);
}

TEST(FeatureStateTest, OverlappingFirstEvaluationsShareOneRecord) {
    tripwire::test::ScopedFlags flags("Race3, Race7");
    const std::vector<std::string> names{"Race0", "Race1", "Race2", "Race3", "Race4",
                                         "Race5", "Race6", "Race7", "Race8", "Race9"};
    std::vector<std::unique_ptr<Feature<0>>> all;
    for (const auto& name : names) {
        all.push_back(std::make_unique<Feature<0>>(name));
    }
    std::vector<std::thread> threads;
    std::vector<int> onCounts(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&all, &onCounts, t] {
            for (const auto& flag : all) {
                onCounts[t] += *flag ? 1 : 0;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int count : onCounts) {
        EXPECT_EQ(count, 2);
    }
    for (const auto& flag : all) {
        EXPECT_EQ(flag->cached(), getDataPtr(std::string(flag->getName())));
    }
}

} // namespace
