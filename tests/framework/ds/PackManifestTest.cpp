// The packing tool and the manifests it appends to bundle libraries.
#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/BundleContext.h"
#include "cppmicroservices/Framework.h"
#include "cppmicroservices/FrameworkFactory.h"
#include "tripwire/testsupport/ChildProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using cppmicroservices::any_cast;
using namespace tripwire::testsupport;

namespace {

class PackManifest : public ::testing::Test {
protected:
    void SetUp() override { std::ofstream(library, std::ios::binary) << libraryBytes; }
    int pack(const std::string& name, const std::string& manifestText) {
        writeFile(dir / "manifest.json", manifestText);
        const auto run =
            runProgram({PACK_TOOL, library.string(), name, (dir / "manifest.json").string()});
        errors = run.err;
        return run.status;
    }
    std::string errors;
    const std::string libraryBytes = "\177ELF" + std::string(1000, '\0') + "PK";
    TempDirectory dir;
    fs::path library = dir / "libthing.so";
};

TEST_F(PackManifest, AppendsAManifestTheFrameworkReadsAndLeavesTheLibraryIntact) {
    ASSERT_EQ(pack("thing", R"({"bundle.symbolic_name": "thing", "scr": {"version": 1}})"), 0)
        << errors;
    const std::string file = readFile(library);
    ASSERT_EQ(file.compare(0, libraryBytes.size(), libraryBytes), 0);
    // The framework reads what was appended.
    auto framework = cppmicroservices::FrameworkFactory().NewFramework();
    framework.Start();
    auto headers = framework.GetBundleContext().InstallBundles(library).at(0).GetHeaders();
    framework.Stop();
    EXPECT_EQ(any_cast<std::string>(headers.at("bundle.symbolic_name")), "thing");
    EXPECT_EQ(any_cast<int>(headers.AtCompoundKey("scr.version")), 1);
    // Packing twice is refused.
    EXPECT_NE(pack("thing", R"({"bundle.symbolic_name": "thing"})"), 0);
    EXPECT_NE(errors.find("already"), std::string::npos);
    EXPECT_EQ(readFile(library), file);
}

TEST_F(PackManifest, RefusesBadInputAndLeavesTheLibraryUntouched) {
    EXPECT_NE(pack("thing", R"({"bundle.symbolic_name": "other"})"), 0);
    EXPECT_NE(errors.find("bundle.symbolic_name"), std::string::npos);
    EXPECT_NE(pack("thing", R"({"scr": {}})"), 0);
    EXPECT_NE(pack("thing", R"({"bundle.symbolic_name": "thing",)"), 0);
    EXPECT_NE(errors.find("JSON"), std::string::npos);
    EXPECT_NE(pack("thing", R"(["bundle.symbolic_name", "thing"])"), 0);
    EXPECT_NE(pack("a/b", R"({"bundle.symbolic_name": "a/b"})"), 0);
    EXPECT_EQ(readFile(library), libraryBytes);
}

} // namespace
