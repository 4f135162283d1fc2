#include "foundation/cppmicroservices/FrameworkAccess.h"

#include "Marker.h"
#include "support/ScratchSpace.h"

#include <fl/filesystem/detail/native_form.h>
#include <fl/filesystem/path_conversion.h>

#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/FrameworkEvent.h>
#include <cppmicroservices/FrameworkFactory.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

namespace foundation::cppmicroservices {
namespace {

namespace cpp = ::cppmicroservices;
namespace fs = std::filesystem;
using qbtest::ScopedEnvironment;
using qbtest::TempDirectory;

std::shared_ptr<cpp::Framework> newFramework() {
    return std::make_shared<cpp::Framework>(cpp::FrameworkFactory().NewFramework());
}

// The relative location the way callers build it: components appended to an empty path.
fl::filesystem::basic_path relativeLocation(std::initializer_list<std::u16string> components) {
    std::u16string text;
    for (const auto& component : components)
        fl::filesystem::detail::concatenate_pathname(text, component, true);
    return fl::filesystem::basic_path(text, true);
}

std::vector<std::string> markerNames(cpp::BundleContext context) {
    std::vector<std::string> names;
    for (const auto& reference : context.GetServiceReferences<qbtest::IMarker>())
        names.push_back(context.GetService(reference)->bundleName());
    std::sort(names.begin(), names.end());
    return names;
}

struct FrameworkAccessTest : ::testing::Test {
    ~FrameworkAccessTest() override { clearFramework(); }
};

TEST_F(FrameworkAccessTest, HoldsTheFrameworkAHostSets) {
    EXPECT_EQ(getFramework(), nullptr);
    const auto first = newFramework();
    const auto second = newFramework();
    EXPECT_EQ(setFramework(first), nullptr);
    EXPECT_EQ(getFramework(), first);
    EXPECT_EQ(setFramework(second), first);
    EXPECT_EQ(getFramework(), second);
    clearFramework();
    EXPECT_EQ(getFramework(), nullptr);
}

TEST_F(FrameworkAccessTest, ReadersSeeAWholeFrameworkOrNoneWhileItChanges) {
    const auto first = newFramework();
    const auto second = newFramework();
    std::atomic<bool> stop{false};
    std::atomic<int> strange{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 8; ++t) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const auto seen = getFramework();
                if (seen && seen != first && seen != second)
                    ++strange;
            }
        });
    }
    for (int round = 0; round < 2000; ++round)
        setFramework(round % 3 == 0 ? nullptr : (round % 3 == 1 ? first : second));
    stop = true;
    for (auto& reader : readers)
        reader.join();
    EXPECT_EQ(strange.load(), 0);
}

TEST_F(FrameworkAccessTest, InstallWithoutFrameworkInstallsNothing) {
    EXPECT_TRUE(installAndStart(relativeLocation({u"bin", u"win64", u"foundation"})).empty());
}

struct RunningFrameworkTest : FrameworkAccessTest {
    TempDirectory installRoot;
    ScopedEnvironment rootVariable{"QB_INSTALL_ROOT", installRoot.path().string()};
    std::shared_ptr<cpp::Framework> framework = newFramework();
    fs::path bundleFolder = installRoot / "bin/win64/foundation/markers";

    RunningFrameworkTest() {
        framework->Init();
        framework->Start();
        setFramework(framework);
        fs::create_directories(bundleFolder / "nested.so");
        fs::copy_file(QBTEST_MARKER_ALPHA, bundleFolder / "qbtest_marker_alpha.so");
        fs::copy_file(QBTEST_MARKER_BETA, bundleFolder / "qbtest_marker_beta.so");
        std::ofstream(bundleFolder / "README.txt") << "not a bundle";
        std::ofstream(bundleFolder / "libold.so.1") << "not a bundle either";
    }
    ~RunningFrameworkTest() override {
        clearFramework();
        framework->Stop();
        framework->WaitForStop(std::chrono::milliseconds(0));
    }
};

TEST_F(RunningFrameworkTest, InstallsAndStartsEveryBundleOfARelativeFolderOnce) {
    const auto location = relativeLocation({u"bin", u"win64", u"foundation", u"markers"});
    const auto bundles = installAndStart(location);
    ASSERT_EQ(bundles.size(), 2u);
    EXPECT_EQ(bundles[0].GetSymbolicName(), "qbtest_marker_alpha");
    EXPECT_EQ(bundles[1].GetSymbolicName(), "qbtest_marker_beta");
    for (const auto& bundle : bundles)
        EXPECT_EQ(bundle.GetState(), cpp::Bundle::STATE_ACTIVE);
    const auto context = framework->GetBundleContext();
    EXPECT_EQ(markerNames(context),
              (std::vector<std::string>{"qbtest_marker_alpha", "qbtest_marker_beta"}));

    const auto again = installAndStart(location);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0].GetBundleId(), bundles[0].GetBundleId());
    EXPECT_EQ(again[1].GetBundleId(), bundles[1].GetBundleId());
    EXPECT_EQ(markerNames(context).size(), 2u) << "a second call must not start bundles twice";
}

TEST_F(RunningFrameworkTest, AnAbsolutePathMayNameOneLibrary) {
    const auto bundles =
        installAndStart(fl::filesystem::path_from_native(bundleFolder / "qbtest_marker_beta.so"));
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(markerNames(framework->GetBundleContext()),
              std::vector<std::string>{"qbtest_marker_beta"});
}

TEST_F(RunningFrameworkTest, MissingFolderInstallsNothing) {
    EXPECT_TRUE(installAndStart(relativeLocation({u"bin", u"win64", u"nothing", u"here"})).empty());
    EXPECT_TRUE(markerNames(framework->GetBundleContext()).empty());
}

TEST_F(RunningFrameworkTest, ALibraryWithoutManifestIsAnError) {
    std::ofstream(bundleFolder / "broken.so") << "no manifest here";
    EXPECT_ANY_THROW(installAndStart(fl::filesystem::path_from_native(bundleFolder)));
}

} // namespace
} // namespace foundation::cppmicroservices
