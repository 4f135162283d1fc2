// Archives built to make the extracted tree impossible to remove.
#include <halvexconnector/latestversion/kciextractor/KCIExtractor.h>

#include <fl/filesystem/path_conversion.h>

#include <tripwire/testsupport/InOwnProcess.h>
#include <tripwire/testsupport/KciArchive.h>
#include <tripwire/testsupport/TempDirectory.h>

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace {

namespace stdfs = std::filesystem;
using halvexconnector::latestversion::kciextractor::extractKCI;
using halvexconnector::latestversion::kciextractor::KCIExtractionError;
using namespace tripwire::testsupport;

TEST(DeepArchive, NestingBeyondTheLimitIsRefusedAndLeavesNothingEvenWithFewDescriptors) {
    inOwnProcess([] {
        const struct rlimit few { 64, 64 };
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
        const TempDirectory scratch;
        const stdfs::path archive = scratch / "kci.zip", extracted = scratch / "kci.extracted";
        for (const auto& [levels, accepted] : {std::pair{255, true}, {256, false}, {2000, false}}) {
            std::string nested;
            for (int i = 0; i < levels; ++i)
                nested += "a/";
            writeKciArchive(archive, "1", "bin/setup",
                            {{"bin/setup", "#!/bin/sh\n", true}, {nested + "f", "x", false}});
            const auto path = fl::filesystem::path_from_native(archive);
            if (accepted) {
                EXPECT_FALSE(extractKCI(path).empty()) << levels;
                EXPECT_EQ(modeOf(extracted / (nested + "f")), 0600u);
            } else {
                EXPECT_THROW(extractKCI(path), KCIExtractionError) << levels;
                EXPECT_FALSE(stdfs::exists(extracted)) << levels;
            }
        }
    });
}

} // namespace
