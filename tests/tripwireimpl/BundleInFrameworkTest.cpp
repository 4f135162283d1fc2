// The bundle inside a framework with the Declarative Services runtime, as a host uses it.
#include "StagedBundle.h"

#include "halvexconnector/tripwire/ITripwire.h"

#include <cppmicroservices/Bundle.h>
#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/Framework.h>
#include <cppmicroservices/FrameworkEvent.h>
#include <cppmicroservices/FrameworkFactory.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

using halvexconnector::tripwire::ITripwire;

bool bundleLibraryMapped() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("qbtripwireimpl.so") != std::string::npos) {
            return true;
        }
    }
    return false;
}

class BundleInFramework : public ::testing::Test {
protected:
    void SetUp() override {
        framework.Start();
        auto context = framework.GetBundleContext();
        for (const auto& location :
             {tripwire_test::stagedDeclarativeServicesPath(), tripwire_test::stagedBundlePath()}) {
            for (auto& bundle : context.InstallBundles(location)) {
                bundle.Start();
            }
        }
    }
    void TearDown() override {
        framework.Stop();
        framework.WaitForStop(std::chrono::milliseconds::zero());
    }

    cppmicroservices::Framework framework = cppmicroservices::FrameworkFactory().NewFramework();
};

TEST_F(BundleInFramework, IsInstalledUnderItsSymbolicNameWithoutLoadingItsLibrary) {
    auto context = framework.GetBundleContext();
    bool found = false;
    for (const auto& bundle : context.GetBundles()) {
        if (bundle.GetSymbolicName() == "com_quillbeck_tripwireimpl") {
            found = true;
            EXPECT_EQ(bundle.GetLocation(), tripwire_test::stagedBundlePath());
        }
    }
    EXPECT_TRUE(found);
    EXPECT_TRUE(context.GetServiceReference<ITripwire>()) << "registered before any request";
    EXPECT_FALSE(bundleLibraryMapped()) << "no service object is made before the first request";
}

TEST_F(BundleInFramework, EveryRequestGetsTheOneServiceObject) {
    auto context = framework.GetBundleContext();
    auto reference = context.GetServiceReference<ITripwire>();
    ASSERT_TRUE(reference);
    EXPECT_EQ(reference.GetInterfaceId(), "halvexconnector::tripwire::ITripwire");

    auto first = context.GetService(reference);
    auto second = context.GetService(context.GetServiceReference<ITripwire>());
    ASSERT_TRUE(first);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_TRUE(bundleLibraryMapped());

    // The bundle's own code answers: a mode without folders has no running agent.
    EXPECT_FALSE(first->areHALVEXServicesRunning(
        static_cast<halvexconnector::tripwire::HALVEXServicesMode>(2)));
}

} // namespace
