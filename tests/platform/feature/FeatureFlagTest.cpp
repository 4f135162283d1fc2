#include "TestFeature.h"

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>

namespace {

using foundation::feature::Feature;
using foundation::feature::management::process::getDataPtr;
using tripwire::test::ScopedFlags;

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
    ScopedFlags flags(GetParam().settings);
    EXPECT_EQ(static_cast<bool>(installErrorFeature), GetParam().on);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, FlagSettingsTest,
    ::testing::Values(Case{nullptr, false}, Case{"", false}, Case{"QSHInstallErrorTELX", true},
                      Case{" \tQSHInstallErrorTELX\n , Other", true},
                      Case{"Other,QSHInstallErrorTELX", true},
                      Case{"QSHInstallErrorTELX = TRUE", true},
                      // Unknown names, different case and near misses stay off.
                      Case{"Other", false}, Case{"qshinstallerrortelx", false},
                      Case{"QSHInstallErrorTELXExtra,QSHInstallError", false},
                      // Switching off, and the last entry winning.
                      Case{"QSHInstallErrorTELX = OFF ", false},
                      Case{"QSHInstallErrorTELX,QSHInstallErrorTELX=off", false},
                      Case{"QSHInstallErrorTELX=off,QSHInstallErrorTELX", true},
                      // Malformed entries are skipped without hiding the valid ones around them.
                      Case{",,=,=on,QSHInstallErrorTELX,", true},
                      Case{"QSHInstallErrorTELX=maybe", false},
                      Case{"QSHInstallErrorTELX=on=off", false},
                      Case{"QSHInstallErrorTELX,QSHInstallErrorTELX=", true},
                      Case{"QSH InstallErrorTELX", false}, Case{"QSHInstallErrorTELX\x01", false}));

TEST(FeatureFlagTest, ReadsTheSettingsAtEveryEvaluation) {
    ScopedFlags flags(nullptr);
    EXPECT_FALSE(installErrorFeature);
    flags.set("QSHInstallErrorTELX");
    EXPECT_TRUE(installErrorFeature);
    flags.set("QSHInstallErrorTELX=off");
    EXPECT_FALSE(installErrorFeature);
    flags.set("QSHInstallErrorTELX");
    EXPECT_TRUE(installErrorFeature);
}

TEST(FeatureFlagTest, EvaluationCachesTheRecordOfItsOwnName) {
    static constinit Feature<0> flag{"CacheProbeFlag"};
    ASSERT_EQ(flag.cached(), nullptr);
    ScopedFlags flags("CacheProbeFlag");
    EXPECT_TRUE(flag);
    EXPECT_EQ(flag.cached(), getDataPtr("CacheProbeFlag"));
}

// A flag class that breaks the contract gets a clear error instead of a wrong answer.
class MisbehavingFeature : public foundation::feature::IFeature {
public:
    MisbehavingFeature(int kind, const char* recordName)
        : IFeature("QSHInstallErrorTELX"), kind(kind), recordName(recordName) {}
    int getKind() const override { return kind; }
    foundation::feature::detail::State* getState() const override {
        return recordName ? getDataPtr(recordName) : nullptr;
    }

private:
    int kind;
    const char* recordName;
};

TEST(FeatureFlagTest, BrokenFlagClassesAreReported) {
    ScopedFlags flags("QSHInstallErrorTELX,SomeOtherFlag");
    EXPECT_TRUE(MisbehavingFeature(0, "QSHInstallErrorTELX"));
    EXPECT_THROW((void)static_cast<bool>(MisbehavingFeature(3, "QSHInstallErrorTELX")),
                 std::logic_error);
    EXPECT_THROW((void)static_cast<bool>(MisbehavingFeature(0, nullptr)), std::logic_error);
    EXPECT_THROW((void)static_cast<bool>(MisbehavingFeature(0, "SomeOtherFlag")), std::logic_error);
}

} // namespace
