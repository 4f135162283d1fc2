#include "TestFeature.h"

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using foundation::feature::Feature;
using tripwire::test::ScopedEnv;

// Flag objects must be constant-initialised (no code runs to build them at load time).
constinit Feature<0> installErrorFeature{"QSHInstallErrorTELX"};

struct Case {
    const char* settings; // nullptr: variable unset
    bool on;
};

// Readable test names: control characters shown as '?'.
void PrintTo(const Case& c, std::ostream* out) {
    std::string shown = c.settings ? c.settings : "<unset>";
    for (char& ch : shown) {
        ch = static_cast<unsigned char>(ch) < 0x20 ? '?' : ch;
    }
    *out << '"' << shown << "\" -> " << (c.on ? "on" : "off");
}

class FlagSettingsTest : public ::testing::TestWithParam<Case> {};

TEST_P(FlagSettingsTest, DecidesWhetherTheFlagIsOn) {
    ScopedEnv env("QB_FEATURE_FLAGS", GetParam().settings);
    EXPECT_EQ(static_cast<bool>(installErrorFeature), GetParam().on)
        << "QB_FEATURE_FLAGS=" << (GetParam().settings ? GetParam().settings : "<unset>");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, FlagSettingsTest,
    ::testing::Values(
        Case{nullptr, false}, Case{"", false}, Case{"QSHInstallErrorTELX", true},
        Case{" \tQSHInstallErrorTELX\n , Other", true}, Case{"Other,QSHInstallErrorTELX", true},
        Case{"QSHInstallErrorTELX=on", true}, Case{"QSHInstallErrorTELX = TRUE", true},
        Case{"QSHInstallErrorTELX=1", true},
        // Unknown names, different case and near misses stay off.
        Case{"Other", false}, Case{"qshinstallerrortelx", false},
        Case{"QSHInstallErrorTELXExtra,QSHInstallError", false},
        // Switching off, and the last entry winning.
        Case{"QSHInstallErrorTELX=off", false}, Case{"QSHInstallErrorTELX = OFF ", false},
        Case{"QSHInstallErrorTELX,QSHInstallErrorTELX=off", false},
        Case{"QSHInstallErrorTELX=off,QSHInstallErrorTELX", true},
        // Malformed entries are skipped without hiding the valid ones around them.
        Case{",,=,=on,QSHInstallErrorTELX,", true}, Case{"QSHInstallErrorTELX=maybe", false},
        Case{"QSHInstallErrorTELX=on=off", false},
        Case{"QSHInstallErrorTELX,QSHInstallErrorTELX=maybe", true},
        Case{"QSHInstallErrorTELX,QSHInstallErrorTELX=", true}, Case{"QSH InstallErrorTELX", false},
        Case{"\"QSHInstallErrorTELX\"", false}, Case{"QSHInstallErrorTELX\x01", false}));

TEST(FeatureFlagTest, ReadsTheSettingsAtEveryEvaluation) {
    ScopedEnv env("QB_FEATURE_FLAGS", nullptr);
    EXPECT_FALSE(installErrorFeature);
    env.set("QSHInstallErrorTELX");
    EXPECT_TRUE(installErrorFeature);
    env.set("QSHInstallErrorTELX=off");
    EXPECT_FALSE(installErrorFeature);
    env.set("QSHInstallErrorTELX");
    EXPECT_TRUE(installErrorFeature);
    env.set(nullptr);
    EXPECT_FALSE(installErrorFeature);
}

TEST(FeatureFlagTest, NameIsTheFullNulTerminatedText) {
    static constinit Feature<0> startupFeature{"QSHTripwireStartupTELX"};
    const auto name = startupFeature.getName();
    EXPECT_EQ(name, "QSHTripwireStartupTELX");
    EXPECT_EQ(name.size(), 22u);
    EXPECT_EQ(name.data()[name.size()], '\0');
}

TEST(FeatureFlagTest, EvaluationCachesTheRecordOfItsOwnName) {
    static constinit Feature<0> flag{"CacheProbeFlag"};
    ASSERT_EQ(flag.cached(), nullptr);
    ScopedEnv env("QB_FEATURE_FLAGS", "CacheProbeFlag");
    EXPECT_TRUE(flag);
    ASSERT_NE(flag.cached(), nullptr);
    EXPECT_EQ(flag.cached(),
              foundation::feature::management::process::getDataPtr("CacheProbeFlag"));
}

TEST(FeatureFlagTest, ConcurrentEvaluationsAgree) {
    static constinit Feature<0> flag{"ConcurrentFlag"};
    ScopedEnv env("QB_FEATURE_FLAGS", "Other, ConcurrentFlag");
    std::vector<std::thread> threads;
    std::vector<int> onCounts(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&onCounts, t] {
            for (int i = 0; i < 200; ++i) {
                onCounts[t] += flag ? 1 : 0;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int count : onCounts) {
        EXPECT_EQ(count, 200);
    }
}

// Flag classes that break the contract get a clear error instead of a wrong answer.
class WrongKindFeature : public foundation::feature::IFeature {
public:
    WrongKindFeature() : IFeature("QSHInstallErrorTELX") {}
    int getKind() const override { return 3; }
    foundation::feature::detail::State* getState() const override {
        return foundation::feature::management::process::getDataPtr("QSHInstallErrorTELX");
    }
};

class RecordlessFeature : public foundation::feature::IFeature {
public:
    RecordlessFeature() : IFeature("QSHInstallErrorTELX") {}
    int getKind() const override { return 0; }
    foundation::feature::detail::State* getState() const override { return nullptr; }
};

class ForeignRecordFeature : public foundation::feature::IFeature {
public:
    ForeignRecordFeature() : IFeature("QSHInstallErrorTELX") {}
    int getKind() const override { return 0; }
    foundation::feature::detail::State* getState() const override {
        return foundation::feature::management::process::getDataPtr("SomeOtherFlag");
    }
};

TEST(FeatureFlagTest, BrokenFlagClassesAreReported) {
    ScopedEnv env("QB_FEATURE_FLAGS", "QSHInstallErrorTELX,SomeOtherFlag");
    EXPECT_THROW(static_cast<void>(static_cast<bool>(WrongKindFeature{})), std::logic_error);
    EXPECT_THROW(static_cast<void>(static_cast<bool>(RecordlessFeature{})), std::logic_error);
    EXPECT_THROW(static_cast<void>(static_cast<bool>(ForeignRecordFeature{})), std::logic_error);
}

} // namespace
