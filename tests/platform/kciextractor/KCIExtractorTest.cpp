#include "ExtractorFixture.h"

#include <sys/stat.h>

#include <fstream>

namespace kcitest {
namespace {

using ::testing::HasSubstr;

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Bytes that deflate only modestly, so a multi-megabyte file stays far below the ratio limit.
std::string noisyBytes(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 12345;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>((state >> 16) & 0x3f);
    }
    return bytes;
}

class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(previous_); }

private:
    mode_t previous_;
};

using KCIExtractorTest = ExtractorFixture;

TEST_F(KCIExtractorTest, ExtractsBesideTheArchiveWithSafeModesWhateverTheUmask) {
    {
        ZipBuilder zip(archive);
        zip.manifest("bin/setup", "2026.12.0.1")
            .directory("bin/")
            .file("bin/setup", "#!/bin/sh\nexit 0\n", 0644)
            .file("bin/servicehost", "host", 04777)
            .file("data/readme.txt", "hello", 0666)
            .directory("empty/");
    }
    const ScopedUmask umask(077);
    const auto [installer, version] = extract();

    EXPECT_EQ(fl::filesystem::to_native(installer), extracted() / "bin/setup");
    EXPECT_EQ(version, "2026.12.0.1");
    EXPECT_EQ(readBytes(extracted() / "bin/setup"), "#!/bin/sh\nexit 0\n");
    EXPECT_EQ(readBytes(extracted() / "data/readme.txt"), "hello");
    // The installer runs whatever the archive said; everything is owner-only and no set-id bit
    // survives.
    EXPECT_EQ(modeOf(extracted() / "bin/setup"), 0700u);
    EXPECT_EQ(modeOf(extracted() / "bin/servicehost"), 0700u);
    EXPECT_EQ(modeOf(extracted() / "data/readme.txt"), 0600u);
    EXPECT_EQ(modeOf(extracted() / "kci.json"), 0600u);
    for (const char* directory : {"", "bin", "data", "empty"}) {
        EXPECT_EQ(modeOf(extracted() / directory), 0700u) << directory;
    }
    EXPECT_TRUE(fs::exists(archive)) << "the archive stays where it is";
}

// Packers that archive a directory as "." write a "./" entry and "./" before every name.
TEST_F(KCIExtractorTest, ArchiveOfTheCurrentDirectoryExtracts) {
    ZipBuilder(archive)
        .directory("./")
        .file("./kci.json", ZipBuilder::manifestText("bin/setup", "7"))
        .directory("./bin/")
        .file("./bin/setup", "x")
        .close();
    const auto [installer, version] = extract();
    EXPECT_EQ(fl::filesystem::to_native(installer), extracted() / "bin/setup");
    EXPECT_EQ(version, "7");
}

// This process never sets a locale, like most hosts of the library.
TEST_F(KCIExtractorTest, NamesBeyondAsciiArriveAsUtf8) {
    ZipBuilder(archive)
        .file("kci.json", ZipBuilder::manifestText("bin/d\u00e9marrer", "1"))
        .file("bin/d\u00e9marrer", "x")
        .file("\u65e5\u672c/\u00e9t\u00e9.txt", "y")
        .close();
    const auto [installer, version] = extract();
    EXPECT_EQ(fl::filesystem::to_native(installer), extracted() / "bin/d\u00e9marrer");
    EXPECT_EQ(readBytes(extracted() / "\u65e5\u672c/\u00e9t\u00e9.txt"), "y");
}

TEST_F(KCIExtractorTest, LargeFilesArriveIntactAcrossBufferBoundaries) {
    const std::string big = noisyBytes((9u << 20) + 12345);
    for (const bool stored : {false, true}) {
        SCOPED_TRACE(stored ? "stored" : "deflated");
        ZipBuilder(archive, stored)
            .manifest("setup")
            .file("setup", "x")
            .file("big.bin", big)
            .file("tiny.bin", "t")
            .close();
        const auto installer = kci::extractKCI(fl::filesystem::path_from_native(archive));
        EXPECT_EQ(fl::filesystem::to_native(installer), extracted() / "setup");
        EXPECT_TRUE(readBytes(extracted() / "big.bin") == big);
        EXPECT_EQ(readBytes(extracted() / "tiny.bin"), "t");
    }
}

TEST_F(KCIExtractorTest, LeftoversOfAnEarlierRunAreReplacedWithoutFollowingLinks) {
    ZipBuilder(archive).manifest("setup").file("setup", "new").close();
    std::ofstream(outside / "keep.txt") << "keep";

    fs::create_directories(extracted() / "old");
    std::ofstream(extracted() / "old/stale.txt") << "stale";
    fs::create_directory_symlink(outside, extracted() / "old/link");
    EXPECT_FALSE(extract().first.empty());
    EXPECT_EQ(treeBelow(extracted()), (std::vector<std::string>{"kci.json", "setup"}));

    // A link in the place of the directory itself is replaced, its target left alone.
    fs::remove_all(extracted());
    fs::create_directory_symlink(outside, extracted());
    EXPECT_FALSE(extract().first.empty());
    EXPECT_FALSE(fs::is_symlink(extracted()));
    EXPECT_EQ(treeBelow(outside), (std::vector<std::string>{"keep.txt"}));
    EXPECT_EQ(readBytes(extracted() / "setup"), "new");
}

TEST_F(KCIExtractorTest, NoInstallerGivesAnEmptyPathWithTheReasonLogged) {
    struct Case {
        const char* what;
        void (*build)(ZipBuilder&);
        const char* logged;
    };
    const Case cases[] = {
        {"no manifest", [](ZipBuilder& z) { z.file("setup", "x"); }, "no kci.json"},
        {"manifest below the root",
         [](ZipBuilder& z) { z.file("sub/kci.json", R"({"version":"1","installer":"setup"})"); },
         "no kci.json"},
        {"installer missing", [](ZipBuilder& z) { z.manifest("bin/setup").file("setup", "x"); },
         "\"bin/setup\", which is not a file"},
        {"installer is a directory",
         [](ZipBuilder& z) { z.manifest("bin").file("bin/setup", "x"); }, "not a file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        log.clear();
        {
            ZipBuilder zip(archive);
            c.build(zip);
        }
        const auto [installer, version] = extract();
        EXPECT_TRUE(installer.empty());
        EXPECT_TRUE(version.empty());
        EXPECT_EQ(log.count_containing(c.logged), 1u);
        ASSERT_EQ(log.records(kci::kExtractorLoggerName).size(), 1u);
        EXPECT_EQ(log.records(kci::kExtractorLoggerName)[0].severity, kci::kNoInstallerSeverity);
        expectNothingWritten();
    }
}

TEST_F(KCIExtractorTest, MalformedManifestThrowsAndLeavesNothing) {
    const std::string manifests[] = {
        "not json",
        "[\"setup\"]",
        R"({"version":"1"})",
        R"({"installer":"setup"})",
        R"({"version":1,"installer":"setup"})",
        R"({"version":"","installer":"setup"})",
        R"({"version":"1","installer":"/bin/sh"})",
        R"({"version":"1","installer":"../setup"})",
        R"({"version":"1","installer":"bin\\setup"})",
        R"({"version":"1","installer":"setup","pad":")" + std::string(70000, 'x') + "\"}",
    };
    for (const auto& text : manifests) {
        SCOPED_TRACE(text.substr(0, 60));
        ZipBuilder(archive).file("setup", "x").file("kci.json", text).close();
        try {
            extract();
            ADD_FAILURE() << "accepted";
        } catch (const kci::KCIExtractionError& error) {
            EXPECT_EQ(error.entry(), "kci.json");
            EXPECT_THAT(error.what(), HasSubstr("Malformed kci.json"));
        }
        expectNothingWritten();
    }
}

} // namespace
} // namespace kcitest
