#include "foundation/cppmicroservices/FrameworkAccess.h"
#include "Marker.h"

#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/FrameworkFactory.h>
#include <fl/filesystem/detail/native_form.h>
#include <fl/filesystem/path_conversion.h>
#include <gtest/gtest.h>
#include <tripwire/testsupport/ModuleHome.h>

namespace foundation::cppmicroservices {
namespace {

namespace cpp = ::cppmicroservices;
namespace fs = std::filesystem;
using namespace tripwire::testsupport;

// The relative location the way callers build it: components appended to an empty path.
fl::filesystem::basic_path relative(std::initializer_list<std::u16string> components) {
    std::u16string text;
    for (const auto& component : components)
        fl::filesystem::detail::concatenate_pathname(text, component, true);
    return fl::filesystem::basic_path(text, true);
}

TEST(FrameworkAccess, HoldsTheFrameworkAHostSetsAndInstallsNothingWithoutOne) {
    EXPECT_EQ(getFramework(), nullptr);
    EXPECT_TRUE(installAndStart(relative({u"bin", u"win64", u"foundation"})).empty());
    const auto first = std::make_shared<cpp::Framework>(cpp::FrameworkFactory().NewFramework());
    EXPECT_EQ(setFramework(first), nullptr);
    EXPECT_EQ(setFramework(first), first);
    EXPECT_EQ(getFramework(), first);
    clearFramework();
    EXPECT_EQ(getFramework(), nullptr);
}

struct RunningFrameworkTest : ::testing::Test {
    TempDirectory installRoot;
    ScopedVariable rootVariable{"QB_INSTALL_ROOT", installRoot.path().string()};
    RunningFramework framework;
    fs::path folder = installRoot / "bin/win64/foundation/markers";

    RunningFrameworkTest() {
        fs::create_directories(folder / "nested.so");
        fs::copy_file(QBTEST_MARKER_ALPHA, folder / "qbtest_marker_alpha.so");
        fs::copy_file(QBTEST_MARKER_BETA, folder / "qbtest_marker_beta.so");
        writeFile(folder / "README.txt", "not a bundle");
        writeFile(folder / "libold.so.1", "not a bundle either");
    }
    std::vector<std::string> markers() {
        auto context = framework.context();
        std::vector<std::string> names;
        for (const auto& reference : context.GetServiceReferences<qbtest::IMarker>())
            names.push_back(context.GetService(reference)->bundleName());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(RunningFrameworkTest, InstallsAndStartsEveryBundleOfAFolderOnceOrOneNamedLibrary) {
    const auto location = relative({u"bin", u"win64", u"foundation", u"markers"});
    const auto bundles = installAndStart(location);
    ASSERT_EQ(bundles.size(), 2u);
    EXPECT_EQ(bundles[0].GetSymbolicName(), "qbtest_marker_alpha");
    EXPECT_EQ(bundles[1].GetState(), cpp::Bundle::STATE_ACTIVE);
    EXPECT_EQ(markers(), (std::vector<std::string>{"qbtest_marker_alpha", "qbtest_marker_beta"}));
    const auto again = installAndStart(location);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[1].GetBundleId(), bundles[1].GetBundleId());
    EXPECT_EQ(markers().size(), 2u) << "a second call must not start bundles twice";
    EXPECT_TRUE(installAndStart(relative({u"bin", u"nothing", u"here"})).empty());
    const auto beta = fl::filesystem::path_from_native(folder / "qbtest_marker_beta.so");
    EXPECT_EQ(installAndStart(beta).at(0).GetBundleId(), bundles[1].GetBundleId());
    writeFile(folder / "broken.so", "no manifest here");
    EXPECT_ANY_THROW(installAndStart(fl::filesystem::path_from_native(folder)));
}

} // namespace
} // namespace foundation::cppmicroservices
