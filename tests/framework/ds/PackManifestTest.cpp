// The packing tool and the manifests it appends to bundle libraries.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct ZipEntry {
    std::string name;
    bool directory;
    std::string content;
};

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& p, const std::string& data) {
    std::ofstream(p, std::ios::binary) << data;
}

uint32_t le32(const std::string& s, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(s[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}

// Where the zip appended to `file` begins: its directory offsets count from there.
size_t zipStart(const std::string& file) {
    size_t eocd = file.rfind(std::string("PK\x05\x06", 4));
    if (eocd == std::string::npos || eocd + 22 > file.size()) {
        throw std::runtime_error("no zip at the end");
    }
    return eocd - le32(file, eocd + 12) - le32(file, eocd + 16);
}

std::vector<ZipEntry> readZip(const std::string& zip) {
    std::vector<ZipEntry> entries;
    archive* a = archive_read_new();
    archive_read_support_format_zip(a);
    EXPECT_EQ(archive_read_open_memory(a, zip.data(), zip.size()), ARCHIVE_OK);
    archive_entry* entry;
    while (archive_read_next_header(a, &entry) == ARCHIVE_OK) {
        ZipEntry e{archive_entry_pathname(entry), archive_entry_filetype(entry) == AE_IFDIR, {}};
        char buf[4096];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0) {
            e.content.append(buf, static_cast<size_t>(n));
        }
        entries.push_back(std::move(e));
    }
    archive_read_free(a);
    return entries;
}

class PackManifest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "dspack-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
        library = dir / "libthing.so";
        writeAll(library, libraryBytes);
    }
    void TearDown() override { fs::remove_all(dir); }

    int pack(const std::string& name, const std::string& manifestText) {
        writeAll(dir / "manifest.json", manifestText);
        std::string cmd = std::string("'") + PACK_TOOL + "' '" + library.string() + "' '" + name +
                          "' '" + (dir / "manifest.json").string() + "' 2>'" +
                          (dir / "err.txt").string() + "'";
        int rc = std::system(cmd.c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    std::string errors() { return readAll(dir / "err.txt"); }

    const std::string libraryBytes = std::string("\x7f"
                                                 "ELF",
                                                 4) +
                                     std::string(1000, '\0') + "PK";
    fs::path dir;
    fs::path library;
};

TEST_F(PackManifest, AppendsManifestThenDirectoryAndLeavesTheLibraryIntact) {
    const std::string manifest =
        R"({"bundle.symbolic_name": "thing", "scr": {"version": 1, "components": []}})";
    ASSERT_EQ(pack("thing", manifest), 0) << errors();
    std::string file = readAll(library);
    ASSERT_EQ(file.compare(0, libraryBytes.size(), libraryBytes), 0);
    size_t start = zipStart(file);
    EXPECT_EQ(start, libraryBytes.size());

    // The first local header names the manifest and says deflate (method 8).
    ASSERT_EQ(file.compare(start, 4, std::string("PK\x03\x04", 4)), 0);
    EXPECT_EQ(static_cast<unsigned char>(file[start + 8]), 8);

    auto entries = readZip(file.substr(start));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "thing/manifest.json");
    EXPECT_FALSE(entries[0].directory);
    EXPECT_EQ(entries[0].content, manifest);
    EXPECT_EQ(entries[1].name, "thing/");
    EXPECT_TRUE(entries[1].directory);
}

TEST_F(PackManifest, RefusesBadInputAndLeavesTheLibraryUntouched) {
    EXPECT_NE(pack("thing", R"({"bundle.symbolic_name": "other"})"), 0);
    EXPECT_NE(errors().find("bundle.symbolic_name"), std::string::npos);
    EXPECT_NE(pack("thing", R"({"scr": {}})"), 0);
    EXPECT_NE(pack("thing", R"({"bundle.symbolic_name": "thing",)"), 0);
    EXPECT_NE(errors().find("JSON"), std::string::npos);
    EXPECT_NE(pack("thing", R"(["bundle.symbolic_name", "thing"])"), 0);
    EXPECT_NE(pack("a/b", R"({"bundle.symbolic_name": "a/b"})"), 0);
    EXPECT_EQ(readAll(library), libraryBytes);
}

TEST_F(PackManifest, RefusesToPackTwice) {
    const std::string manifest = R"({"bundle.symbolic_name": "thing"})";
    ASSERT_EQ(pack("thing", manifest), 0) << errors();
    const std::string packed = readAll(library);
    EXPECT_NE(pack("thing", manifest), 0);
    EXPECT_NE(errors().find("already"), std::string::npos);
    EXPECT_EQ(readAll(library), packed);
}

TEST(StagedRuntimeBundle, CarriesItsManifest) {
    const char* stage = std::getenv("TRIPWIRE_STAGE_DIR");
    ASSERT_NE(stage, nullptr);
    std::string file = readAll(fs::path(stage) / "lib" / "libDeclarativeServices.so");
    ASSERT_EQ(file.compare(0, 4,
                           "\x7f"
                           "ELF"),
              0);
    auto entries = readZip(file.substr(zipStart(file)));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "declarative_services/manifest.json");
    EXPECT_EQ(entries[1].name, "declarative_services/");
    auto manifest = nlohmann::json::parse(entries[0].content);
    EXPECT_EQ(manifest.at("bundle.symbolic_name"), "declarative_services");
    EXPECT_EQ(manifest.at("bundle.activator"), true);
}

} // namespace
