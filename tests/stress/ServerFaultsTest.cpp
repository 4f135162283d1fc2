// One server fault per install attempt during the download, a hundred attempts in a row on one
// service object: each ends with the right result and event, and neither descriptors nor memory
// pile up.
#include "StressSupport.h"

#include <gtest/gtest.h>

#include <iostream>

namespace tripwire_stress {
namespace {

using namespace halvexconnector::tripwire;

constexpr int attempts = 100;
// Big enough that keeping one archive per attempt would show in the resident set.
constexpr std::size_t payloadBytes = 256 * 1024;

struct Fault {
    std::string query;     // in the file URL; "digest" offers a document naming another digest
    bool downloadSucceeds; // then the installer runs and the attempt succeeds
};

std::vector<Fault> faultsFor(std::size_t archiveSize) {
    return {
        {"status=404", false},
        {"status=500", false},
        {"status=503", false},
        {"cut=100", false},
        {"cut=" + std::to_string(archiveSize - 1), false},
        {"length=" + std::to_string(archiveSize + 4096), false},
        {"length=" + std::to_string(archiveSize / 2), false},
        {"digest", false},
        {"redirect=2", true},
        {"", true},
    };
}

bool sanitizedBuild() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#else
    return false;
#endif
}

class ServerFaults : public ::testing::Test {
protected:
    void offer(const Fault& fault) {
        if (fault.query == "digest") {
            home.server().addFile("kci.zip", archive);
            home.server().setLatestDocument(tripwire::testsupport::latestDocument(
                fixtureVersion, home.server().fileUrl("kci.zip"),
                tripwire::testsupport::sha256Hex(archive + "x")));
        } else {
            home.offer(archive, fault.query);
        }
    }

    // One attempt under `fault`; checks its result, its event and what it left.
    void attempt(ITripwire& tripwire, const Fault& fault, int number) {
        SCOPED_TRACE("attempt " + std::to_string(number) + " with fault \"" + fault.query + "\"");
        offer(fault);
        const InstallConnectorResult result =
            tripwire.installAndStartHALVEXServices(DRIVE, "faults", boost::none, boost::none);
        const auto events = home.installEvents();
        ASSERT_EQ(events.size(), ++eventCount) << "one event per attempt";
        const auto& event = events.back();
        if (fault.downloadSucceeds) {
            EXPECT_EQ(result, INSTALLED_AND_STARTED);
            EXPECT_EQ(event.value("installResult", ""), "INSTALLED_AND_STARTED");
            EXPECT_EQ(event.value("downloadErrorMessage", "?"), "");
            EXPECT_EQ(event.value("installerReturnCode", ""), "0");
        } else {
            EXPECT_EQ(result, INSTALL_FAILED);
            EXPECT_EQ(event.value("installResult", ""), "INSTALL_FAILED");
            EXPECT_NE(event.value("downloadErrorMessage", ""), "") << "the event says why";
            EXPECT_NE(event.value("downloadEndTimestamp", ""), "");
            EXPECT_EQ(event.value("installerReturnCode", "?"), "") << "no installer ran";
        }
        EXPECT_EQ(home.leftoverWorkingDirectories(), std::vector<fs::path>());
    }

    StressHome home;
    const std::string archive = kciArchiveWithInstaller("exit 0", payloadBytes);
    std::size_t eventCount = 0;
};

TEST_F(ServerFaults, AHundredFaultyDownloadsInARowEndRightAndLeakNothing) {
    BundleHost host;
    std::shared_ptr<ITripwire> tripwire = host.tripwire();
    ASSERT_TRUE(tripwire);
    const std::vector<Fault> faults = faultsFor(archive.size());
    // A stalled transfer costs the client's stall time (1 s here), and the test kit's server
    // keeps one of its few worker threads for each until it stops: a few of them only.
    const Fault stall{"stall=100", false};

    // Warm-up: every fault three times, so that the bundles, the client's pools, the reaper and
    // the allocator's arenas have reached their size.
    int number = 0;
    for (int round = 0; round < 3; ++round) {
        for (const Fault& fault : faults) {
            attempt(*tripwire, fault, ++number);
        }
    }
    attempt(*tripwire, stall, ++number);
    const std::size_t descriptorsBefore = openDescriptorCount(home.server().port());
    const std::string descriptorsListBefore = describeOpenDescriptors(home.server().port());
    const std::size_t residentBefore = residentBytes();

    for (int i = 0; i < attempts; ++i) {
        const bool stalled = i % 25 == 12;
        attempt(*tripwire, stalled ? stall : faults[static_cast<std::size_t>(i) % faults.size()],
                ++number);
        if (HasFatalFailure()) {
            return;
        }
    }

    const std::size_t descriptorsAfter = openDescriptorCount(home.server().port());
    const std::size_t residentAfter = residentBytes();
    std::cout << "open descriptors before/after " << attempts << " attempts: " << descriptorsBefore
              << "/" << descriptorsAfter << ", resident KiB: " << residentBefore / 1024 << "/"
              << residentAfter / 1024 << std::endl;
    EXPECT_LE(descriptorsAfter, descriptorsBefore + 2)
        << "before:\n"
        << descriptorsListBefore << "after:\n"
        << describeOpenDescriptors(home.server().port());
    if (!sanitizedBuild()) {
        // Far below the 25 MiB that keeping one archive per attempt would add.
        EXPECT_LE(residentAfter, residentBefore + 4 * 1024 * 1024);
    }
}

} // namespace
} // namespace tripwire_stress
