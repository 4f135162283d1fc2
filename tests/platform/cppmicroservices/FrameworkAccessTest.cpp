#include "foundation/cppmicroservices/FrameworkAccess.h"

#include <cppmicroservices/Bundle.h>
#include <fl/filesystem/path_conversion.h>
#include <gtest/gtest.h>
#include <tripwire/InstallLayout.h>
#include <tripwire/testsupport/ModuleHome.h>

namespace foundation::cppmicroservices {
namespace {

using namespace tripwire::testsupport;
using fl::filesystem::path_from_native;

TEST(FrameworkAccess, NeedsAFrameworkAndBundlesAndTakesABundleFileToo) {
    const auto folder = staged::root() / tripwire::layout::httpProxyBundleDirectory;
    EXPECT_EQ(getFramework(), nullptr);
    EXPECT_TRUE(installAndStart(path_from_native(folder)).empty()) << "no framework";
    RunningFramework framework;
    const TempDirectory other;
    EXPECT_TRUE(installAndStart(path_from_native(other / "missing")).empty());
    const auto bundles = installAndStart(path_from_native(folder / "qbhttpproxybundle.so"));
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(bundles[0].GetState(), ::cppmicroservices::Bundle::STATE_ACTIVE);
}

} // namespace
} // namespace foundation::cppmicroservices
