#include "halvexconnector/latestversion/kciextractor/KCIExtractor.h"

#include <archive.h>
#include <archive_entry.h>
#include <fl/filesystem/path_conversion.h>
#include <foundation/log/testing/RecordCapture.h>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tripwire/testsupport/TempDirectory.h>

namespace {

namespace fs = std::filesystem;
namespace kci = halvexconnector::latestversion::kciextractor;
using namespace tripwire::testsupport;
using ::testing::HasSubstr;

// A zip entry, even one no packer would write; a regular file with a link target is a hard link.
struct Entry {
    std::string name, content;
    mode_t type = AE_IFREG, perm = 0644;
    std::string link{};
};
Entry directory(const std::string& name) {
    return {name, "", AE_IFDIR, 0755};
}
std::string manifestText(const std::string& installer, const std::string& version = "2026.12.0.1") {
    return R"({"version": ")" + version + R"(", "installer": ")" + installer + "\"}";
}
Entry manifest(const std::string& installer) {
    return {"kci.json", manifestText(installer)};
}

void writeZip(const fs::path& target, const std::vector<Entry>& entries, bool stored = false) {
    archive* writer = archive_write_new();
    archive_write_set_format_zip(writer);
    archive_write_set_format_option(writer, "zip", "compression", stored ? "store" : "deflate");
    archive_write_set_format_option(writer, "zip", "hdrcharset", "UTF-8");
    ASSERT_EQ(archive_write_open_filename(writer, target.c_str()), ARCHIVE_OK);
    for (const auto& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname_utf8(entry, e.name.c_str());
        archive_entry_set_filetype(entry, e.type);
        archive_entry_set_perm(entry, e.perm);
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.content.size()));
        archive_entry_set_mtime(entry, 1'700'000'000, 0);
        if (e.type == AE_IFLNK)
            archive_entry_set_symlink(entry, e.link.c_str());
        else if (!e.link.empty())
            archive_entry_set_hardlink(entry, e.link.c_str());
        ASSERT_GE(archive_write_header(writer, entry), ARCHIVE_WARN)
            << archive_error_string(writer);
        archive_write_data(writer, e.content.data(), e.content.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
}

// Calls `change` with the archive's bytes and the offset of the central directory record (the
// name's last occurrence) or of the local header (its first) of `name`, and writes them back.
void patch(const fs::path& archive, const std::string& name, bool central,
           const std::function<void(std::string&, std::size_t)>& change) {
    std::string bytes = readFile(archive);
    change(bytes, central ? bytes.rfind(name) - 46 : bytes.find(name) - 30);
    writeFile(archive, bytes);
}

void setMode(const fs::path& archive, const std::string& name, std::uint16_t mode) {
    patch(archive, name, true, [mode](std::string& bytes, std::size_t at) {
        bytes[at + 5] = 3; // made by: Unix, so the mode counts
        bytes[at + 40] = static_cast<char>(mode & 0xff);
        bytes[at + 41] = static_cast<char>(mode >> 8);
    });
}

std::vector<std::string> treeBelow(const fs::path& root) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        names.push_back(fs::relative(entry.path(), root).string());
    std::sort(names.begin(), names.end());
    return names;
}

// A scratch tree "work" (holding the archive) and "outside" (which no archive may reach).
struct KCIExtractorTest : ::testing::Test {
    TempDirectory scratch;
    fs::path work = scratch / "work", outside = scratch / "outside";
    fs::path archive = work / "kci_test.zip", extracted = work / "kci_test.extracted";
    foundation::log::testing::RecordCapture log;
    KCIExtractorTest() {
        fs::create_directories(work);
        fs::create_directories(outside);
    }
    std::pair<fl::filesystem::basic_path, std::string>
    extract(const kci::ExtractionLimits& limits = {}) {
        return kci::extractKCIAndReturnVersion(fl::filesystem::path_from_native(archive), limits);
    }
    void expectNothingWritten() const {
        EXPECT_EQ(treeBelow(scratch.path()),
                  (std::vector<std::string>{"outside", "work", "work/kci_test.zip"}));
    }
    std::string expectRefused(const std::string& entry, const kci::ExtractionLimits& limits = {}) {
        std::string text;
        try {
            extract(limits);
            ADD_FAILURE() << "extraction of a hostile archive succeeded: " << entry;
        } catch (const kci::KCIExtractionError& error) {
            text = error.what();
            EXPECT_EQ(error.entry(), entry) << text;
            EXPECT_THAT(text, HasSubstr(entry));
        }
        expectNothingWritten();
        return text;
    }
    // Each hostile archive starts with a valid layout, so a refusal also proves that what had
    // been written before the offending entry is removed again.
    void writeHostile(std::vector<Entry> tail, bool stored = false) {
        std::vector<Entry> entries{
            manifest("bin/setup"), {"bin/setup", "#!/bin/sh\n"}, directory("data/")};
        entries.insert(entries.end(), tail.begin(), tail.end());
        writeZip(archive, entries, stored);
    }
};

TEST_F(KCIExtractorTest, AnyLayoutExtractsBesideTheArchiveSafelyReplacingLeftoversUnfollowed) {
    writeZip(archive, {manifest("bin/setup"),
                       directory("bin/"),
                       {"bin/setup", "#!/bin/sh\nexit 0\n", AE_IFREG, 0644},
                       {"bin/servicehost", "host", AE_IFREG, 04777},
                       {"data/readme.txt", "hello", AE_IFREG, 0666},
                       {"data/..a", "dots"},
                       directory("empty/")});
    const mode_t previous = ::umask(077);
    const auto setup = extract().first;
    ::umask(previous);
    EXPECT_EQ(fl::filesystem::to_native(setup), extracted / "bin/setup");
    EXPECT_EQ(readFile(extracted / "data/readme.txt"), "hello");
    EXPECT_EQ(readFile(extracted / "data/..a"), "dots") << "a name is no \"..\" for its dots";
    // clang-format off
    const std::pair<const char*, mode_t> modes[] = {{"bin/setup", 0700}, {"bin/servicehost", 0700},
        {"data/readme.txt", 0600}, {"kci.json", 0600}, {"", 0700}, {"data", 0700}, {"empty", 0700}};
    // clang-format on
    for (const auto& [name, mode] : modes)
        EXPECT_EQ(modeOf(extracted / name), mode) << name;
    EXPECT_TRUE(fs::exists(archive)) << "the archive stays where it is";
    // "./" as packers of "." write it; names beyond ASCII in a process that never set a locale.
    writeZip(archive, {directory("./"),
                       {"./kci.json", manifestText("bin/d\u00e9marrer", "7")},
                       directory("./bin/"),
                       {"./bin/d\u00e9marrer", "x"},
                       {"\u65e5\u672c/\u00e9t\u00e9.txt", "y"}});
    const auto [installer, version] = extract();
    EXPECT_EQ(version, "7");
    EXPECT_EQ(fl::filesystem::to_native(installer), extracted / "bin/d\u00e9marrer");
    EXPECT_EQ(readFile(extracted / "\u65e5\u672c/\u00e9t\u00e9.txt"), "y");
    std::string big((9u << 20) + 12345, '\0');
    std::uint32_t state = 12345;
    for (auto& byte : big) // bytes that deflate only modestly, far below the ratio limit
        byte = static_cast<char>(((state = state * 1103515245u + 12345u) >> 16) & 0x3f);
    for (const bool stored : {false, true}) {
        writeZip(archive, {manifest("setup"), {"setup", "x"}, {"big.bin", big}, {"tiny", "t"}},
                 stored);
        EXPECT_EQ(fl::filesystem::to_native(extract().first), extracted / "setup");
        EXPECT_TRUE(readFile(extracted / "big.bin") == big) << stored;
        EXPECT_EQ(readFile(extracted / "tiny"), "t");
    }
    writeZip(archive, {manifest("setup"), {"setup", "new"}});
    writeFile(outside / "keep.txt", "keep");
    writeFile(extracted / "old/stale.txt", "stale");
    fs::create_directory_symlink(outside, extracted / "old/link");
    EXPECT_FALSE(extract().first.empty());
    EXPECT_EQ(treeBelow(extracted), (std::vector<std::string>{"kci.json", "setup"}));
    fs::remove_all(extracted);
    fs::create_directory_symlink(outside, extracted);
    EXPECT_FALSE(extract().first.empty());
    EXPECT_FALSE(fs::is_symlink(extracted));
    EXPECT_EQ(treeBelow(outside), (std::vector<std::string>{"keep.txt"}));
}

TEST_F(KCIExtractorTest, NoInstallerGivesAnEmptyPathAndMalformedManifestsAreRefused) {
    const std::pair<std::vector<Entry>, const char*> cases[] = {
        {{{"setup", "x"}}, "no kci.json"},
        {{{"sub/kci.json", manifestText("setup")}}, "no kci.json"},
        {{manifest("bin/setup"), {"setup", "x"}}, "\"bin/setup\", which is not a file"},
        {{manifest("bin"), {"bin/setup", "x"}}, "not a file"}};
    for (const auto& [entries, logged] : cases) {
        log.clear();
        writeZip(archive, entries);
        const auto [installer, version] = extract();
        EXPECT_TRUE(installer.empty() && version.empty()) << logged;
        EXPECT_EQ(log.count_containing(logged), 1u) << logged;
        ASSERT_EQ(log.records(kci::kExtractorLoggerName).size(), 1u);
        EXPECT_EQ(log.records(kci::kExtractorLoggerName)[0].severity, kci::kNoInstallerSeverity);
        expectNothingWritten();
    }
    for (const std::string& text : std::vector<std::string>{
             "not json", "[\"setup\"]", R"({"version":"1"})", R"({"installer":"setup"})",
             R"({"version":1,"installer":"setup"})", R"({"version":"","installer":"setup"})",
             R"({"version":"1","installer":"/bin/sh"})",
             R"({"version":"1","installer":"../setup"})",
             R"({"version":"1","installer":"bin\\setup"})", R"({"version":"1","installer":"./"})",
             R"({"version":"1","installer":"setup","pad":")" + std::string(70000, 'x') + "\"}"}) {
        writeZip(archive, {{"setup", "x"}, {"kci.json", text}});
        EXPECT_THAT(expectRefused("kci.json"), HasSubstr("Malformed kci.json"))
            << text.substr(0, 60);
    }
}

TEST_F(KCIExtractorTest, EscapesLinksDevicesBombsLimitsTruncationAndBadChecksumsAreRefused) {
    const auto link = [](const std::string& to) {
        return Entry{"data/etc", "", AE_IFLNK, 0777, to};
    };
    // clang-format off
    const std::pair<std::vector<Entry>, std::string> cases[] = {
        {{{"../escaped.txt", "p"}}, "../escaped.txt"}, {{{"data/..", "p"}}, "data/.."},
        {{{"data/../../escaped.txt", "p"}}, "data/../../escaped.txt"},
        {{{(outside / "abs.txt").string(), "p"}}, (outside / "abs.txt").string()},
        {{{".", "a file in the place of the extraction directory"}}, "."},
        // The zip reader turns '\' into '/', which must not smuggle a ".." past the check.
        {{{"data\\..\\..\\x", "p"}}, "data/../../x"},
        {{link(outside.string()), {"data/etc/injected", "p"}}, "data/etc"},
        {{link("/etc")}, "data/etc"}, {{link("..")}, "data/etc"},
        {{{"data/a.txt", "one"}, {"data/a.txt", "two"}}, "data/a.txt"},
        {{{"data/a.txt", "one"}, {"./data//a.txt", "two"}}, "./data//a.txt"},
        {{directory("data/x/"), {"data/x", "two"}}, "data/x"},
        {{{"bin/setup", "two"}}, "bin/setup"}};
    // clang-format on
    for (const auto& [tail, refused] : cases) {
        writeHostile(tail);
        expectRefused(refused);
    }
    for (const std::uint16_t type : {S_IFCHR, S_IFBLK, S_IFSOCK}) {
        writeHostile({{"data/node", ""}});
        setMode(archive, "data/node", static_cast<std::uint16_t>(type | 0644));
        expectRefused("data/node");
    }
    // A FIFO mode may read as a plain file, and a hard link (zip has none) may arrive as an empty
    // file of its own; either way it is never a FIFO or a second name for the target.
    const auto atMostAPlainFile = [this] {
        try {
            extract();
            struct stat st {};
            ASSERT_EQ(::lstat((extracted / "data/node").c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(st.st_nlink, 1u);
            EXPECT_NE(readFile(extracted / "data/node"), "secret");
        } catch (const kci::KCIExtractionError& error) {
            EXPECT_EQ(error.entry(), "data/node");
            expectNothingWritten();
        }
    };
    writeHostile({{"data/node", ""}});
    setMode(archive, "data/node", static_cast<std::uint16_t>(S_IFIFO | 0644));
    atMostAPlainFile();
    writeHostile({{"data/target", "secret"}, {"data/node", "", AE_IFREG, 0644, "data/target"}});
    atMostAPlainFile();
    writeHostile({{"data/bomb", std::string(64u << 20, '\0')}});
    EXPECT_THAT(expectRefused("data/bomb"), HasSubstr("compression ratio above 1000"));
    // A small entry may compress as well as it likes; the ratio counts only above 1 MiB.
    writeHostile({{"data/zeros", std::string(1u << 20, '\0')}});
    EXPECT_FALSE(extract().first.empty());
    EXPECT_EQ(fs::file_size(extracted / "data/zeros"), 1u << 20);
    writeHostile({{"data/a", std::string(600, 'a')}, {"data/b", std::string(400, 'b')}});
    kci::ExtractionLimits limits;
    limits.maxEntries = 5; // both files, the installer and kci.json exactly
    limits.maxTotalBytes =
        1000 + std::string("#!/bin/sh\n").size() + manifestText("bin/setup").size();
    EXPECT_FALSE(extract(limits).first.empty());
    --limits.maxTotalBytes;
    EXPECT_THAT(expectRefused("data/b", limits), HasSubstr("bytes uncompressed in total"));
    ++limits.maxTotalBytes;
    limits.maxEntries = 4;
    EXPECT_THAT(expectRefused("data/b", limits), HasSubstr("more than 4 entries"));
    limits = kci::ExtractionLimits{};
    limits.keepFreeBytes = fs::space(work).available;
    EXPECT_THAT(expectRefused("", limits), HasSubstr("not enough free space in " + work.string()));
    writeHostile({{"data/big", std::string(200000, 'z')}});
    const std::string whole = readFile(archive);
    for (const std::size_t keep : {whole.size() / 2, whole.size() - 30, std::size_t{10}}) {
        writeFile(archive, whole.substr(0, keep));
        EXPECT_THROW(extract(), kci::KCIExtractionError) << keep;
        expectNothingWritten();
    }
    // Stored, only the checksum can notice; deflated, the stream may break first.
    for (const bool stored : {true, false}) {
        writeHostile({{"data/checked", "checksummed " + std::string(100, 'q')}}, stored);
        patch(archive, "data/checked", false, [](std::string& bytes, std::size_t at) {
            const std::size_t data = at + 30 + 12 +
                                     (static_cast<unsigned char>(bytes[at + 28]) |
                                      static_cast<unsigned char>(bytes[at + 29]) << 8);
            bytes[data + 5] = static_cast<char>(~bytes[data + 5]);
        });
        expectRefused("data/checked");
    }
}

} // namespace
