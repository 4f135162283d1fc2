// The packing tool; the framework reads what it appends to every bundle the tests install.
#include "tripwire/testsupport/ChildProcess.h"

#include <gtest/gtest.h>

using namespace tripwire::testsupport;

namespace {

TEST(PackManifest, RefusesBadInputAndAppendsTheManifestOnce) {
    TempDirectory dir;
    const auto library = dir / "libthing.so", manifest = dir / "manifest.json";
    const std::string libraryBytes = "\177ELF" + std::string(1000, '\0') + "PK";
    writeFile(library, libraryBytes);
    std::string errors;
    const auto pack = [&](const std::string& name, const std::string& manifestText) {
        writeFile(manifest, manifestText);
        const auto run = runProgram({PACK_TOOL, library.string(), name, manifest.string()});
        errors = run.err;
        return run.status;
    };
    const std::tuple<const char*, const char*, const char*> bad[] = {
        {"thing", R"({"bundle.symbolic_name": "other"})", "bundle.symbolic_name"},
        {"thing", R"({"scr": {}})", ""},
        {"thing", R"({"bundle.symbolic_name": "thing",)", "JSON"},
        {"thing", R"(["bundle.symbolic_name", "thing"])", ""},
        {"a/b", R"({"bundle.symbolic_name": "a/b"})", ""},
    };
    for (const auto& [name, text, error] : bad) {
        EXPECT_NE(pack(name, text), 0) << text;
        EXPECT_NE(errors.find(error), std::string::npos) << errors;
        EXPECT_EQ(readFile(library), libraryBytes) << text;
    }
    ASSERT_EQ(pack("thing", R"({"bundle.symbolic_name": "thing", "scr": {"version": 1}})"), 0)
        << errors;
    const std::string file = readFile(library);
    ASSERT_EQ(file.compare(0, libraryBytes.size(), libraryBytes), 0);
    EXPECT_GT(file.size(), libraryBytes.size());
    EXPECT_NE(pack("thing", R"({"bundle.symbolic_name": "thing"})"), 0);
    EXPECT_NE(errors.find("already"), std::string::npos);
    EXPECT_EQ(readFile(library), file);
}

} // namespace
