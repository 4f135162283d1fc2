#include <fl/filesystem/operations.h>
#include <fl/filesystem/path_conversion.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TestTree.h"

namespace {

namespace fs = fl::filesystem;

TEST(FilesystemInstallPath, EnvironmentOverrideWinsInNativeForm) {
    fstest::ScopedEnv root("QB_INSTALL_ROOT", "/opt/some app//x/");
    const auto path = fs::get_install_path();
    EXPECT_EQ(path.string(), u"/opt/some app/x");
    EXPECT_TRUE(path.form());
}

TEST(FilesystemInstallPath, WithoutOverrideItIsTheTreeHoldingThisLibrary) {
    const char* stage = std::getenv("TRIPWIRE_STAGE_DIR");
    if (stage == nullptr) {
        GTEST_SKIP() << "TRIPWIRE_STAGE_DIR not set (run through ctest)";
    }
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        fstest::ScopedEnv root("QB_INSTALL_ROOT", value);
        const auto path = fs::get_install_path();
        EXPECT_EQ(fs::to_native(path), std::filesystem::canonical(stage));
        EXPECT_TRUE(
            std::filesystem::exists(fs::to_native(path) / "lib" / "libqbfoundation_filesystem.so"));
    }
}

} // namespace
