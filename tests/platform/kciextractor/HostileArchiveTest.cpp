#include "ExtractorFixture.h"

#include <sys/stat.h>

namespace kcitest {
namespace {

using ::testing::HasSubstr;

// Each hostile archive starts with a valid kci layout, so a refusal also proves that what had
// been written before the offending entry is removed again.
struct HostileArchiveTest : ExtractorFixture {
    ZipBuilder& begin(ZipBuilder& zip) {
        return zip.manifest("bin/setup").file("bin/setup", "#!/bin/sh\n").directory("data/");
    }
};

TEST_F(HostileArchiveTest, NamesLeavingTheDirectoryAreRefused) {
    const std::string absolute = (outside / "abs.txt").string();
    for (const std::string& name :
         {std::string("../escaped.txt"), std::string("data/../../escaped.txt"),
          std::string("data/.."), absolute}) {
        SCOPED_TRACE(name);
        {
            ZipBuilder zip(archive);
            begin(zip).file(name, "payload");
        }
        expectRefused(name);
    }
    {
        ZipBuilder zip(archive);
        begin(zip).file(".", "a file in the place of the extraction directory");
    }
    expectRefused(".");
    // The zip reader turns '\' into '/', which must not smuggle a ".." past the check.
    {
        ZipBuilder zip(archive);
        begin(zip).file("data\\..\\..\\x", "payload");
    }
    expectRefused("data/../../x");
}

TEST_F(HostileArchiveTest, SymbolicLinksAreRefusedBeforeAnythingGoesThroughThem) {
    for (const std::string& target : {outside.string(), std::string("/etc"), std::string("..")}) {
        SCOPED_TRACE(target);
        {
            ZipBuilder zip(archive);
            begin(zip).symlink("data/etc", target).file("data/etc/injected", "payload");
        }
        expectRefused("data/etc");
    }
}

// Zip has no hard links: what a packer makes of one must arrive as an ordinary, empty file of
// its own, never as a second name for the target.
TEST_F(HostileArchiveTest, HardLinkArrivesAsAPlainFileAtMost) {
    {
        ZipBuilder zip(archive);
        begin(zip).file("data/target", "secret").hardlink("data/passwd", "data/target");
    }
    try {
        extract();
        struct stat st {};
        ASSERT_EQ(::lstat((extracted() / "data/passwd").c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_nlink, 1u);
        EXPECT_NE(readBytes(extracted() / "data/passwd"), "secret");
    } catch (const kci::KCIExtractionError& error) {
        EXPECT_EQ(error.entry(), "data/passwd");
        expectNothingWritten();
    }
}

TEST_F(HostileArchiveTest, DevicesAndSocketsAreRefusedAndFifosNeverMade) {
    for (const std::uint16_t type : {S_IFCHR, S_IFBLK, S_IFSOCK}) {
        SCOPED_TRACE(type);
        {
            ZipBuilder zip(archive);
            begin(zip).file("data/node", "");
        }
        setCentralDirectoryMode(archive, "data/node", static_cast<std::uint16_t>(type | 0644));
        expectRefused("data/node");
    }
    // The zip reader reads a FIFO mode as a plain file; whichever way, no FIFO appears.
    {
        ZipBuilder zip(archive);
        begin(zip).file("data/node", "");
    }
    setCentralDirectoryMode(archive, "data/node", static_cast<std::uint16_t>(S_IFIFO | 0644));
    try {
        extract();
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(extracted() / "data/node")));
    } catch (const kci::KCIExtractionError& error) {
        EXPECT_EQ(error.entry(), "data/node");
        expectNothingWritten();
    }
}

TEST_F(HostileArchiveTest, DuplicateEntriesAreRefusedAlsoWhenSpelledDifferently) {
    const std::pair<const char*, const char*> pairs[] = {
        {"data/a.txt", "data/a.txt"},
        {"data/a.txt", "./data//a.txt"},
        {"data/x/", "data/x"},
        {"bin/", "bin/setup"}, // the second name repeats an entry of the valid prefix
    };
    for (const auto& [first, second] : pairs) {
        SCOPED_TRACE(second);
        {
            ZipBuilder zip(archive);
            begin(zip);
            if (std::string(first).back() == '/') {
                zip.directory(first);
            } else {
                zip.file(first, "one");
            }
            zip.file(second, "two");
        }
        expectRefused(second);
    }
}

TEST_F(HostileArchiveTest, ZipBombIsStoppedWhileStreaming) {
    {
        ZipBuilder zip(archive);
        begin(zip).zeros("data/bomb", 64u << 20);
    }
    EXPECT_THAT(expectRefused("data/bomb"), HasSubstr("compression ratio above 1000"));

    // A small entry may compress as well as it likes; the ratio counts only above 1 MiB.
    {
        ZipBuilder zip(archive);
        begin(zip).zeros("data/zeros", 1u << 20);
    }
    EXPECT_FALSE(extract().first.empty());
    EXPECT_EQ(fs::file_size(extracted() / "data/zeros"), 1u << 20);
}

TEST_F(HostileArchiveTest, EntryAndSizeLimitsHoldAtTheirBoundaries) {
    {
        ZipBuilder zip(archive);
        begin(zip).file("data/a", std::string(600, 'a')).file("data/b", std::string(400, 'b'));
    }
    kci::ExtractionLimits limits;
    limits.maxEntries = 5;
    // Both files, the installer and kci.json exactly.
    limits.maxTotalBytes = 1000 + std::string("#!/bin/sh\n").size() +
                           ZipBuilder::manifestText("bin/setup", "2026.12.0.1").size();
    EXPECT_FALSE(extract(limits).first.empty());

    --limits.maxTotalBytes;
    EXPECT_THAT(expectRefused("data/b", limits), HasSubstr("bytes uncompressed in total"));
    ++limits.maxTotalBytes;
    limits.maxEntries = 4;
    EXPECT_THAT(expectRefused("data/b", limits), HasSubstr("more than 4 entries"));
}

TEST_F(HostileArchiveTest, TruncatedArchiveIsRefused) {
    {
        ZipBuilder zip(archive);
        begin(zip).file("data/big", std::string(200000, 'z'));
    }
    const std::string whole = readBytes(archive);
    for (const std::size_t keep : {whole.size() / 2, whole.size() - 30, std::size_t{10}}) {
        SCOPED_TRACE(keep);
        writeBytes(archive, whole.substr(0, keep));
        EXPECT_THROW(extract(), kci::KCIExtractionError);
        expectNothingWritten();
    }
}

TEST_F(HostileArchiveTest, WrongChecksumIsRefused) {
    for (const bool stored : {true, false}) {
        SCOPED_TRACE(stored ? "stored" : "deflated");
        {
            ZipBuilder zip(archive, stored);
            begin(zip).file("data/checked", "checksummed " + std::string(100, 'q'));
        }
        // Stored, only the checksum can notice; deflated, the stream may break first.
        flipDataByteOf(archive, "data/checked", 5);
        try {
            extract();
            ADD_FAILURE() << "accepted";
        } catch (const kci::KCIExtractionError& error) {
            EXPECT_EQ(error.entry(), "data/checked") << error.what();
        }
        expectNothingWritten();
    }
}

} // namespace
} // namespace kcitest
