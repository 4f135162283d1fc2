// Archives built to make the extracted tree impossible to remove.
#include <halvexconnector/latestversion/kciextractor/KCIExtractor.h>

#include <fl/filesystem/path_conversion.h>

#include <tripwire/testsupport/KciArchive.h>
#include <tripwire/testsupport/TempDirectory.h>

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace {

namespace stdfs = std::filesystem;
using halvexconnector::latestversion::kciextractor::extractKCI;
using halvexconnector::latestversion::kciextractor::KCIExtractionError;
using namespace tripwire::testsupport;

std::string nested(int levels) {
    std::string name;
    for (int i = 0; i < levels; ++i) {
        name += "a/";
    }
    return name + "f";
}

TEST(DeepArchive, NestingBeyondTheLimitIsRefusedAndLeavesNothingEvenWithFewDescriptors) {
    const TempDirectory scratch;
    const stdfs::path archive = scratch / "kci.zip", extracted = scratch / "kci.extracted";
    struct rlimit previousLimit {};
    ::getrlimit(RLIMIT_NOFILE, &previousLimit);
    struct rlimit few = previousLimit;
    few.rlim_cur = 64;
    ::setrlimit(RLIMIT_NOFILE, &few);
    const struct {
        int levels;
        bool accepted;
    } cases[] = {{255, true}, {256, false}, {2000, false}};
    for (const auto& [levels, accepted] : cases) {
        writeKciArchive(archive, "1", "bin/setup",
                        {{"bin/setup", "#!/bin/sh\n", true}, {nested(levels), "x", false}});
        if (accepted) {
            EXPECT_FALSE(extractKCI(fl::filesystem::path_from_native(archive)).empty()) << levels;
            EXPECT_EQ(modeOf(extracted / nested(levels)), 0600u);
        } else {
            EXPECT_THROW(extractKCI(fl::filesystem::path_from_native(archive)), KCIExtractionError)
                << levels;
            EXPECT_FALSE(stdfs::exists(extracted)) << levels;
        }
    }
    ::setrlimit(RLIMIT_NOFILE, &previousLimit);
}

} // namespace
