#include "../FrameworkTestUtil.h"
#include "../ds/bundle/IGreeter.hpp"

#include "BundleInternals.h"
#include "cppmicroservices/BundleEvent.h"
#include "cppmicroservices/LDAPFilter.h"

#include <tripwire/testsupport/KciArchive.h>
#include <tripwire/testsupport/TempDirectory.h>
#include <tripwire/testsupport/Thrown.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>

using namespace cppmicroservices;
using namespace tripwire::testsupport;

class BundleLifecycleTest : public ::testing::Test {
protected:
    std::string Install(std::string const& path) {
        return whatThrown<std::invalid_argument>([&] { context.InstallBundles(path); });
    }
    // `prefix` followed by a zip archive of `entries`, as a library with its manifest appended.
    std::string WriteBundle(std::string const& name, std::string const& prefix,
                            std::vector<ArchiveEntry> const& entries) {
        writeZipArchive(dir / "zip", entries);
        std::ofstream(dir / name, std::ios::binary) << prefix << readFile(dir / "zip");
        return (dir / name).string();
    }
    TempDirectory dir;
    std::string events; // "TYPE name;" each
    fwtest::RunningFramework fw;
    BundleContext context = fw.framework.GetBundleContext();
    ListenerToken token = context.AddBundleListener([this](BundleEvent const& e) {
        std::ostringstream event;
        event << e.GetType() << " " << e.GetBundle().GetSymbolicName() << ";";
        events += event.str();
    });
};

TEST_F(BundleLifecycleTest, InstallReadsTheManifestAndOnlyTheSeamLoadsCode) {
    EXPECT_EQ(context.GetBundle(), fw.framework);
    Bundle plain = context.InstallBundles(FWTEST_PLAIN_PATH).at(0);
    EXPECT_EQ(plain.GetSymbolicName(), "fwtest_plain");
    EXPECT_EQ(plain.GetState(), Bundle::STATE_INSTALLED);
    EXPECT_FALSE(plain.GetBundleContext());
    EXPECT_FALSE(fwtest::IsLoaded(FWTEST_PLAIN_PATH));
    EXPECT_EQ(context.GetBundle(plain.GetBundleId()), plain);
    EXPECT_EQ(any_cast<int>(plain.GetHeaders().AtCompoundKey("SCR.Version")), 1); // any case
    EXPECT_EQ(detail::GetBundleLibraryPath(plain),
              std::filesystem::weakly_canonical(FWTEST_PLAIN_PATH).string());
    // Filters match a bundle's manifest headers, keys in any case.
    EXPECT_TRUE(LDAPFilter("(Bundle.Symbolic_Name=fwtest_plain)").Match(plain));
    EXPECT_FALSE(LDAPFilter("(bundle.symbolic_name=*)").Match(Bundle()));
    plain.Start(); // no activator: state and events only
    EXPECT_EQ(plain.GetState(), Bundle::STATE_ACTIVE);
    EXPECT_FALSE(fwtest::IsLoaded(FWTEST_PLAIN_PATH));
    // The seam loads the library once and hands it its bundle's context.
    void* handle = detail::LoadBundleLibrary(plain);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(detail::LoadBundleLibrary(plain), handle);
    auto const owner =
        reinterpret_cast<char const* (*)()>(dlsym(handle, "fwtest_plain_context_owner"));
    ASSERT_NE(owner, nullptr);
    EXPECT_STREQ(owner(), "fwtest_plain");
    EXPECT_EQ(detail::MakeBundleContext(detail::GetBundleContextPrivate(plain)),
              plain.GetBundleContext());
    plain.Stop(); // the library stays loaded; its context is no longer valid
    EXPECT_EQ(plain.GetState(), Bundle::STATE_RESOLVED);
    EXPECT_STREQ(owner(), "");
    EXPECT_EQ(events, "INSTALLED fwtest_plain;STARTING fwtest_plain;STARTED fwtest_plain;"
                      "STOPPING fwtest_plain;STOPPED fwtest_plain;");
}

// Restarts of activator bundles are the bundles' tests'.
TEST_F(BundleLifecycleTest, ActivatorRunsWithTheBundleContextAndItsServicesGoOnStopOrFailure) {
    Bundle bundle = context.InstallBundles(FWTEST_ACTIVATOR_PATH).at(0);
    bundle.Start();
    ASSERT_TRUE(fwtest::IsLoaded(FWTEST_ACTIVATOR_PATH));
    auto refs = context.GetServiceReferences<dstest::IGreeter>();
    ASSERT_EQ(refs.size(), 1u);
    EXPECT_EQ(refs[0].GetBundle(), bundle);
    EXPECT_TRUE(any_cast<bool>(refs[0].GetProperty("context_matches")));
    EXPECT_EQ(bundle.GetRegisteredServices().size(), 1u);
    bundle.Stop(); // the activator leaves its service registered: the framework withdraws it
    EXPECT_FALSE(refs[0]);
    // A failing start leaves the bundle resolved, without the services it registered.
    Bundle failing = context.InstallBundles(FWTEST_FAILING_PATH).at(0);
    try {
        failing.Start();
        FAIL() << "expected the start to fail";
    } catch (std::runtime_error const&) {
        EXPECT_THAT(fwtest::Describe(std::current_exception()),
                    testing::HasSubstr("fwtest_failing refuses to start"));
    }
    EXPECT_EQ(failing.GetState(), Bundle::STATE_RESOLVED);
    EXPECT_FALSE(failing.GetBundleContext());
    EXPECT_TRUE(context.GetServiceReferences<dstest::IGreeter>().empty());
}

TEST_F(BundleLifecycleTest, FrameworkStopStopsBundlesInReverseStartOrderAndItCanRestart) {
    Bundle plain = context.InstallBundles(FWTEST_PLAIN_PATH).at(0);
    Bundle active = context.InstallBundles(FWTEST_ACTIVATOR_PATH).at(0);
    active.Start();
    plain.Start();
    events.clear();
    EXPECT_EQ(fw.framework.WaitForStop(std::chrono::milliseconds(1)).GetType(),
              FrameworkEvent::FRAMEWORK_WAIT_TIMEDOUT);
    auto waiter = std::async(std::launch::async, [&] {
        return fw.framework.WaitForStop(std::chrono::milliseconds::zero()).GetType();
    });
    fw.framework.Stop();
    EXPECT_EQ(waiter.get(), FrameworkEvent::FRAMEWORK_STOPPED);
    auto const activatorStops = events.find("STOPPING fwtest_activator;");
    EXPECT_LT(events.find("STOPPING fwtest_plain;"), activatorStops);
    EXPECT_NE(activatorStops, std::string::npos);
    EXPECT_EQ(plain.GetState(), Bundle::STATE_RESOLVED);
    EXPECT_EQ(fw.framework.GetState(), Bundle::STATE_RESOLVED);
    EXPECT_FALSE(fw.framework.GetBundleContext());
    EXPECT_THROW(plain.Start(), std::runtime_error); // the framework is not running
    EXPECT_EQ(fw.framework.WaitForStop(std::chrono::milliseconds(1)).GetType(),
              FrameworkEvent::FRAMEWORK_STOPPED);
    fw.framework.Start();
    EXPECT_EQ(fw.framework.GetState(), Bundle::STATE_ACTIVE);
    EXPECT_TRUE(fw.framework.GetBundleContext());
}

TEST_F(BundleLifecycleTest, EachBadFileGetsAClearErrorNamingIt) {
    struct {
        char const* name;
        std::string raw;               // the whole file, when there are no zip entries
        std::vector<ArchiveEntry> zip; // appended to arbitrary bytes
        char const* error;
    } const cases[] = {
        // clang-format off
        {"nozip.so", std::string(100000, 'x'), {}, "Bundle file '"},
        // Garbage behind a valid-looking end record must not be read as an archive.
        {"truncated.so", std::string("PK\x05\x06", 4) + std::string(18, '\xff'), {}, ""},
        {"nomanifest.so", {}, {{"b/other.json", "{}"}}, "no <name>/manifest.json"},
        {"badjson.so", {}, {{"b/manifest.json", "{\"bundle.symbolic_name\": "}}, "malformed manifest b/manifest.json"},
        {"noname.so", {}, {{"b/manifest.json", "{\"bundle.activator\": false}"}}, "has no \"bundle.symbolic_name\""},
        {"mismatch.so", {}, {{"b/manifest.json", "{\"bundle.symbolic_name\": \"c\"}"}}, "not \"b\""},
        // clang-format on
    };
    for (auto const& c : cases) {
        auto path = (dir / c.name).string();
        if (!c.zip.empty())
            path = WriteBundle(c.name, std::string(4096, '\x7f'), c.zip);
        else
            std::ofstream(path, std::ios::binary) << c.raw;
        auto const error = Install(path);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
    EXPECT_THAT(whatThrown<std::runtime_error>([&] { context.InstallBundles(dir / "missing.so"); }),
                testing::HasSubstr((dir / "missing.so").string()));
    EXPECT_EQ(context.GetBundles().size(), 1u); // nothing half-installed
    ArchiveEntry const good{"good_one/manifest.json", "{\"bundle.symbolic_name\": \"good_one\"}"};
    EXPECT_EQ(Install(WriteBundle("good.so", std::string(4096, '\x7f'), {good})),
              "(nothing thrown)");
    // Another file claiming the same symbolic name would clash on its entry points.
    EXPECT_NE(Install(WriteBundle("twin.so", "", {good})).find("already installed"),
              std::string::npos);
}
