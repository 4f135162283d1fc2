#include "InstallerArguments.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using sample::installer::ArgumentError;
using sample::installer::parseInstallerArguments;
using Args = std::vector<std::string>;

TEST(InstallerArguments, TakesTheLocalListWithItsValuesVerbatim) {
    const auto parsed =
        parseInstallerArguments({"-source", "/opt/my sources", "-mode", "silent", "-triggeredby",
                                 "TRIPWIRE_", "-installationroot", "/srv/Service Host"});
    EXPECT_EQ(parsed.source, "/opt/my sources");
    EXPECT_EQ(parsed.mode, "silent");
    EXPECT_EQ(parsed.triggeredBy, "TRIPWIRE_");
    EXPECT_EQ(parsed.installationRoot, "/srv/Service Host");
}

TEST(InstallerArguments, OptionalPartsMayBeAbsentOrEmpty) {
    const auto emptyRoot =
        parseInstallerArguments({"-installationroot", "", "-mode", "silent", "-source", ""});
    EXPECT_EQ(emptyRoot.installationRoot, "");
    EXPECT_EQ(emptyRoot.source, "");
    EXPECT_FALSE(emptyRoot.triggeredBy.has_value());
}

TEST(InstallerArguments, ValueIsTheNextElementEvenWhenItLooksLikeAnOption) {
    const auto parsed = parseInstallerArguments({"-triggeredby", "-mode", "-mode", "silent"});
    EXPECT_EQ(parsed.triggeredBy, "-mode");
    EXPECT_EQ(parsed.mode, "silent");
}

TEST(InstallerArguments, RefusesWhatItDoesNotUnderstand) {
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"-mode", "silent", "-quiet"}, "unknown argument \"-quiet\""},
        {{"-Mode", "silent"}, "unknown argument \"-Mode\""},
        {{"-mode", "silent", "extra"}, "unknown argument \"extra\""},
        {{}, "missing \"-mode silent\""},
        {{"-triggeredby", "TRIPWIRE_"}, "missing \"-mode silent\""},
        {{"-mode", "interactive"}, "unsupported mode \"interactive\""},
        {{"-mode", "silent", "-installationroot"}, "\"-installationroot\" needs a value"},
        {{"-mode", "silent", "-mode", "silent"}, "repeated argument \"-mode\""},
        {{"-source", "a", "-mode", "silent", "-source", "b"}, "repeated argument \"-source\""},
    };
    for (const auto& [arguments, expected] : cases) {
        try {
            parseInstallerArguments(arguments);
            ADD_FAILURE() << "accepted: " << ::testing::PrintToString(arguments);
        } catch (const ArgumentError& error) {
            EXPECT_THAT(error.what(), ::testing::HasSubstr(expected));
        }
    }
}

} // namespace
