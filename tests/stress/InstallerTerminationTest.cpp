// A host that shuts down while `tripwire install` waits for an installer that never exits:
// terminate_children ends the installer, the install attempt fails at once and removes its
// working directory. terminate_children is one-way for the whole process, so each case runs in
// a process of its own.
#include "StressSupport.h"

#include <foundation/core/process/terminate_children.h>

#include <gtest/gtest.h>

#include <tripwire/testsupport/InOwnProcess.h>

#include <atomic>
#include <csignal>
#include <fstream>

namespace tripwire_stress {
namespace {

using tripwire::testsupport::inOwnProcess;

using namespace halvexconnector::tripwire;
using namespace std::chrono_literals;
namespace fcp = foundation::core::process;

constexpr auto grace = 300ms;

std::vector<pid_t> pidsIn(const fs::path& file) {
    std::vector<pid_t> pids;
    std::ifstream in(file);
    pid_t pid = 0;
    while (in >> pid) {
        pids.push_back(pid);
    }
    return pids;
}

bool processExists(pid_t pid) {
    return ::kill(pid, 0) == 0;
}

struct Ending {
    InstallConnectorResult result = INSTALLED_AND_STARTED;
    nlohmann::ordered_json event;
    std::vector<pid_t> installerRuns;
};

// Installs (drive mode) with an installer that records its pid and then hangs, ends the
// children from another thread once it runs, and returns how the attempt ended.
Ending installAndShutDown(StressHome& home, const std::string& hangingScriptTail) {
    const fs::path runs = home.root() / "installer-runs";
    const std::string archive =
        kciArchiveWithInstaller("echo $$ >> '" + runs.string() + "'\n" + hangingScriptTail);
    home.offer(archive);
    Ending ending;
    BundleHost host;
    std::shared_ptr<ITripwire> tripwire = host.tripwire();
    if (!tripwire) {
        ADD_FAILURE() << "no service object";
        return ending;
    }
    Watchdog watchdog(30s, [] { return std::string("the install did not return"); });
    std::atomic<bool> returned{false};
    std::thread installing([&] {
        ending.result =
            tripwire->installAndStartHALVEXServices(DRIVE, "shutdown", boost::none, boost::none);
        returned = true;
    });
    while (pidsIn(runs).empty()) {
        std::this_thread::sleep_for(2ms);
    }
    std::this_thread::sleep_for(20ms); // still waiting for the installer: nothing else ends it
    EXPECT_FALSE(returned.load());

    fcp::terminate_children(grace);
    installing.join();

    ending.installerRuns = pidsIn(runs);
    for (const pid_t pid : ending.installerRuns) {
        EXPECT_FALSE(processExists(pid)) << "installer " << pid << " still runs";
        ::kill(pid, SIGKILL); // never leave one behind, whatever the test found
    }
    EXPECT_EQ(home.leftoverWorkingDirectories(), std::vector<fs::path>());
    const auto events = home.installEvents();
    EXPECT_EQ(events.size(), 1u);
    if (!events.empty()) {
        ending.event = events.back();
    }
    return ending;
}

TEST(InstallerTermination, ADownloadedInstallerIsEndedAndTheAttemptFails) {
    inOwnProcess([] {
        StressHome home;
        const Ending ending = installAndShutDown(home, "exec sleep 30");
        EXPECT_EQ(ending.result, INSTALL_FAILED);
        EXPECT_EQ(ending.installerRuns.size(), 1u) << "a downloaded installer is not rerun";
        EXPECT_EQ(ending.event.value("installResult", ""), "INSTALL_FAILED");
        EXPECT_EQ(ending.event.value("installerReturnCode", ""), std::to_string(128 + SIGTERM));
    });
}

TEST(InstallerTermination, AnInstallerIgnoringTermIsKilledAfterTheGrace) {
    inOwnProcess([] {
        StressHome home;
        const Ending ending = installAndShutDown(home, "trap '' TERM\nexec sleep 30");
        EXPECT_EQ(ending.result, INSTALL_FAILED);
        EXPECT_EQ(ending.event.value("installerReturnCode", ""), std::to_string(128 + SIGKILL));
    });
}

TEST(InstallerTermination, ALocalInstallerIsNotRerunOnceTheHostShutsDown) {
    inOwnProcess([] {
        StressHome home;
        // The same hanging installer as a local archive: its failed first run would normally
        // be rerun, but no installer may start any more.
        const fs::path sources = home.root() / "sources";
        fs::create_directories(sources);
        const fs::path runs = home.root() / "installer-runs";
        std::ofstream(sources / "kci_9.1.0.7.zip", std::ios::binary)
            << kciArchiveWithInstaller("echo $$ >> '" + runs.string() + "'\nexec sleep 30");
        tripwire::testsupport::ScopedVariable local("QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES",
                                                    sources.string());
        const Ending ending = installAndShutDown(home, "exec sleep 30");
        EXPECT_EQ(ending.result, INSTALL_FAILED);
        EXPECT_EQ(ending.installerRuns.size(), 1u);
        EXPECT_EQ(ending.event.value("installSource", ""), "LOCAL");
        EXPECT_EQ(ending.event.value("installerReturnCode", ""), std::to_string(128 + SIGTERM));
        EXPECT_EQ(ending.event.value("installerRerunReturnCode", "?"), "")
            << "the rerun could not start";
        EXPECT_NE(ending.event.value("installerRerunEndTimestamp", ""), "");
    });
}

} // namespace
} // namespace tripwire_stress
