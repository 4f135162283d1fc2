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

TEST(FrameworkAccess, InstallsAndStartsTheBundlesOfAPlaceOnce) {
    const auto folder = staged::root() / tripwire::layout::httpProxyBundleDirectory;
    EXPECT_EQ(getFramework(), nullptr);
    EXPECT_TRUE(installAndStart(path_from_native(folder)).empty()) << "no framework";
    RunningFramework framework;
    const TempDirectory other;
    EXPECT_TRUE(installAndStart(path_from_native(other / "missing")).empty());
    const auto bundles = installAndStart(path_from_native(folder));
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(bundles[0].GetState(), ::cppmicroservices::Bundle::STATE_ACTIVE);
    const ScopedVariable root("QB_INSTALL_ROOT", staged::root().string());
    for (const auto& again : {path_from_native(folder / "qbhttpproxybundle.so"),
                              path_from_native(tripwire::layout::httpProxyBundleDirectory)})
        EXPECT_EQ(installAndStart(again).at(0).GetBundleId(), bundles[0].GetBundleId());
    writeFile(other / "broken.so", "no manifest here");
    EXPECT_ANY_THROW(installAndStart(path_from_native(other.path())));
}

} // namespace
} // namespace foundation::cppmicroservices
