// The packing tool and the manifests it appends to bundle libraries.
#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/BundleContext.h"
#include "cppmicroservices/Framework.h"
#include "cppmicroservices/FrameworkFactory.h"
#include "tripwire/testsupport/TempDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;
using cppmicroservices::any_cast;

namespace {

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The local headers of the appended zip: the manifest (deflate, method 8) first, the
// directory entry last, as the real framework expects them.
void expectLayout(const std::string& file, std::size_t start, const std::string& name) {
    const std::string local("PK\x03\x04", 4);
    ASSERT_EQ(file.compare(start, 4, local), 0);
    EXPECT_EQ(static_cast<unsigned char>(file[start + 8]), 8);
    EXPECT_EQ(file.compare(start + 30, name.size() + 14, name + "/manifest.json"), 0);
    const std::size_t last = file.rfind(local);
    EXPECT_EQ(file.compare(last + 30, name.size() + 1, name + "/"), 0);
}

// What the framework reads back from a packed library.
cppmicroservices::AnyMap installedHeaders(const fs::path& library) {
    auto framework = cppmicroservices::FrameworkFactory().NewFramework();
    framework.Start();
    auto headers = framework.GetBundleContext().InstallBundles(library).at(0).GetHeaders();
    framework.Stop();
    return headers;
}

class PackManifest : public ::testing::Test {
protected:
    void SetUp() override { std::ofstream(library, std::ios::binary) << libraryBytes; }

    int pack(const std::string& name, const std::string& manifestText) {
        std::ofstream(dir / "manifest.json") << manifestText;
        std::string cmd = std::string("'") + PACK_TOOL + "' '" + library.string() + "' '" + name +
                          "' '" + (dir / "manifest.json").string() + "' 2>'" +
                          (dir / "err.txt").string() + "'";
        int rc = std::system(cmd.c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    std::string errors() { return readAll(dir / "err.txt"); }

    const std::string libraryBytes = "\177ELF" + std::string(1000, '\0') + "PK";
    tripwire::testsupport::TempDirectory dir;
    fs::path library = dir / "libthing.so";
};

TEST_F(PackManifest, AppendsManifestThenDirectoryAndLeavesTheLibraryIntact) {
    ASSERT_EQ(pack("thing", R"({"bundle.symbolic_name": "thing", "scr": {"version": 1}})"), 0)
        << errors();
    std::string file = readAll(library);
    ASSERT_EQ(file.compare(0, libraryBytes.size(), libraryBytes), 0);
    expectLayout(file, libraryBytes.size(), "thing");
    auto headers = installedHeaders(library);
    EXPECT_EQ(any_cast<std::string>(headers.at("bundle.symbolic_name")), "thing");
    EXPECT_EQ(any_cast<int>(headers.AtCompoundKey("scr.version")), 1);
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
    const fs::path library = fs::path(stage) / "lib" / "libDeclarativeServices.so";
    const std::string file = readAll(library);
    ASSERT_EQ(file.compare(0, 4, "\177ELF"), 0);
    // The first occurrence of the name is the manifest's local header (30 bytes in).
    expectLayout(file, file.find("declarative_services/manifest.json") - 30,
                 "declarative_services");
    auto headers = installedHeaders(library);
    EXPECT_EQ(any_cast<std::string>(headers.at("bundle.symbolic_name")), "declarative_services");
    EXPECT_TRUE(any_cast<bool>(headers.at("bundle.activator")));
}

} // namespace
