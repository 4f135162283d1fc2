// Fault and load tests of the staged bundle; README.md says what each proves.
#include <tripwire/testsupport/InOwnProcess.h>
#include <tripwire/testsupport/KciArchive.h>
#include <tripwire/testsupport/ModuleHome.h>

#include "halvexconnector/tripwire/ITripwire.h"

#include <foundation/core/process/terminate_children.h>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace halvexconnector::tripwire;
using namespace tripwire::testsupport;
using namespace std::chrono_literals;

const std::string fixtureVersion = "9.1.0.7";

class Stress : public testing::Test {
protected:
    Stress() { home.set("QB_HTTPCLIENT_STALL_SECONDS", "1"); }
    // Offers a fixture installer with `body` (and a random payload) as the latest version.
    fs::path offer(const std::string& body, std::size_t payloadBytes = 0,
                   const std::string& fault = {}) {
        const fs::path archive = home / "offered.zip";
        writeScriptKciArchive(archive, fixtureVersion, body, payloadBytes);
        home.offer(archive, fixtureVersion, fault);
        return archive;
    }
    InstallConnectorResult install(ITripwire& tripwire) {
        return tripwire.installAndStartHALVEXServices(DRIVE, "stress", boost::none, boost::none);
    }

    ModuleHome home;
};

TEST_F(Stress, MixedOperationsSurviveAFrameworkRestartUnderneath) {
    constexpr int threads = 16, callsEach = 20;
    constexpr std::uint32_t required[4] = {1, 0, 0, 0};
    offer("exit 0");
    describeInstallation(home.driveRoot(), fixtureVersion,
                         writeScript(home / "launcher", "exit 0"));
    std::mutex frameworkLock;
    auto framework = std::make_unique<RunningFramework>(RunningFramework::withModule());
    const auto current = [&]() -> std::shared_ptr<ITripwire> {
        const std::lock_guard guard(frameworkLock);
        return framework ? framework->service<ITripwire>() : nullptr;
    };
    const auto swapFramework = [&](std::unique_ptr<RunningFramework> next) {
        const std::lock_guard guard(frameworkLock);
        return std::exchange(framework, std::move(next));
    };
    const std::shared_ptr<ITripwire> before = current();
    std::atomic<std::uint64_t> generation{0}; // odd while the restart runs
    std::atomic<int> finished{0}, settled{0}, fresh{0}, installs{0};
    ::alarm(50); // a hung call must not hang CI: SIGALRM ends the program
    std::vector<std::jthread> callers;
    for (int t = 0; t < threads; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < callsEach; ++i, ++finished) {
                const std::uint64_t first = generation;
                std::shared_ptr<ITripwire> tripwire;
                while (!(tripwire = current()))
                    std::this_thread::sleep_for(1ms);
                fresh += tripwire != before && first >= 2;
                const int operation = (t + i) % 4;
                // Installs stay in the drive mode: no minute-long wait for a service host.
                const HALVEXServicesMode mode = operation == 3 || i % 2 == 0 ? DRIVE : STANDARD;
                int result = -2;
                try {
                    result = operation == 0 ? int(tripwire->areHALVEXServicesRunning(mode))
                             : operation == 1
                                 ? int(tripwire->checkHALVEXServicesInstallation(mode, required))
                             : operation == 2 ? int(tripwire->startHALVEXServices(mode))
                                              : int(install(*tripwire));
                    installs += operation == 3;
                } catch (const std::exception&) {
                }
                // No agent runs anywhere; only the drive root holds an installation.
                const bool drive = mode == DRIVE;
                const int expected[] = {0, drive ? INSTALLED : NOT_INSTALLED,
                                        drive ? INSTALLED_AND_STARTED : INSTALL_FAILED,
                                        INSTALLED_AND_STARTED};
                // A call that crossed the restart may end any way, as long as it returns.
                if (first == generation && first % 2 == 0) {
                    ++settled;
                    EXPECT_EQ(result, expected[operation])
                        << "operation " << operation << ", mode " << mode;
                }
            }
        });
    }
    while (finished < threads * callsEach / 2)
        std::this_thread::sleep_for(1ms);
    ++generation;
    swapFramework(nullptr).reset(); // the old one goes outside the lock
    swapFramework(std::make_unique<RunningFramework>(RunningFramework::withModule()));
    ++generation;
    callers.clear(); // joins them
    ::alarm(0);
    EXPECT_GT(fresh, 0) << "the restarted framework made no new service object";
    EXPECT_GE(settled, threads * callsEach / 2);
    EXPECT_EQ(home.events().size(), static_cast<std::size_t>(installs.load()))
        << "one event per install that returned";
    framework.reset(); // the last service objects go, and with them any queued removals
    EXPECT_EQ(home.workingDirectories(), std::vector<fs::path>());
}

std::vector<std::string> openDescriptors() {
    std::vector<std::string> targets;
    std::error_code gone; // the listing's own descriptor is closed by the time it is read
    for (const auto& entry : fs::directory_iterator("/proc/self/fd"))
        targets.push_back(entry.path().filename().string() + " -> " +
                          fs::read_symlink(entry.path(), gone).string());
    return targets;
}

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// Payloads big enough that keeping one per attempt would show in the resident set.
TEST_F(Stress, AHundredFaultyDownloadsInARowEndRightAndLeakNothing) {
    const fs::path archive = offer("exit 0", 256 * 1024);
    const std::size_t size = fs::file_size(archive);
    // clang-format off
    const std::vector<std::pair<std::string, bool>> faults{
        {"status=404", false}, {"status=500", false}, {"status=503", false}, {"cut=100", false},
        {"cut=" + std::to_string(size - 1), false}, {"length=" + std::to_string(size + 4096), false},
        {"length=" + std::to_string(size / 2), false}, {"digest", false}, {"redirect=2", true}, {"", true}};
    // clang-format on
    RunningFramework framework(RunningFramework::withModule());
    const std::shared_ptr<ITripwire> tripwire = framework.service<ITripwire>();
    [[maybe_unused]] std::size_t residentBefore = 0; // unread under the sanitizers
    std::vector<std::string> descriptorsBefore;
    // Three rounds of warm-up, then the hundred; a stall (a second each) now and then.
    for (int number = 0; number < 3 * 10 + 100; ++number) {
        const bool stalled = number == 30 || number % 25 == 12;
        const auto& [fault, succeeds] = stalled ? std::pair<std::string, bool>{"stall=100", false}
                                                : faults[number % faults.size()];
        SCOPED_TRACE("attempt " + std::to_string(number) + " with \"" + fault + "\"");
        home.offer(archive, fixtureVersion, fault == "digest" ? "" : fault);
        if (fault == "digest") // other bytes under the name: not what the document's digest says
            home.server().addFile("kci_" + fixtureVersion + ".zip", "another archive");
        ASSERT_EQ(install(*tripwire), succeeds ? INSTALLED_AND_STARTED : INSTALL_FAILED);
        const std::vector<Json> events = home.events();
        ASSERT_EQ(events.size(), static_cast<std::size_t>(number + 1));
        EXPECT_EQ(events.back()["installerReturnCode"], succeeds ? "0" : "");
        EXPECT_EQ(events.back()["downloadErrorMessage"] == "", succeeds) << "the event says why";
        ASSERT_EQ(home.workingDirectories(), std::vector<fs::path>());
        if (number == 30) {
            descriptorsBefore = openDescriptors();
            residentBefore = residentBytes();
        }
    }
    const std::vector<std::string> descriptorsAfter = openDescriptors();
    // Each later stall's answer keeps its connection in the server until the server stops.
    EXPECT_LE(descriptorsAfter.size(), descriptorsBefore.size() + 2 + 4)
        << testing::PrintToString(descriptorsBefore) << testing::PrintToString(descriptorsAfter);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LE(residentBytes(), residentBefore + 4 * 1024 * 1024);
#endif
}

// The tmpfs needs a mount namespace of its own: each case reruns the test program under
// `unshare --mount` where that is permitted.
class DiskFull : public Stress, public testing::WithParamInterface<std::size_t> {};

TEST_P(DiskFull, AnOverflowingAttemptFailsAndLeavesNothing) {
    constexpr std::size_t tmpfsBytes = 1024 * 1024;
    const fs::path small = home / "small";
    fs::create_directories(small);
    if (std::getenv("TRIPWIRE_STRESS_PRIVATE_MOUNTS") == nullptr) {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        const fs::path skipped = home / "skip-reason";
        home.set("TRIPWIRE_STRESS_PRIVATE_MOUNTS", skipped.string());
        const ProgramRun run = runProgram(
            {"/usr/bin/unshare", "--mount", "--propagation", "private",
             fs::read_symlink("/proc/self/exe").string(),
             std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name()});
        if (run.status != 0 && run.out.empty())
            GTEST_SKIP() << "no mount namespace here (unshare --mount needs CAP_SYS_ADMIN): "
                         << run.err;
        if (fs::exists(skipped))
            GTEST_SKIP() << readFile(skipped);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_NE(run.out.find("[  PASSED  ] 1 test."), std::string::npos) << run.out;
        return;
    }
    const std::string options = "size=" + std::to_string(tmpfsBytes) + ",mode=0700";
    if (::mount("tmpfs", small.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        std::ofstream(std::getenv("TRIPWIRE_STRESS_PRIVATE_MOUNTS"))
            << "mounting a tmpfs failed: " << std::strerror(errno);
        return;
    }
    home.set("QB_RODUDED_OZOVIZAZ_DOWNLOAD_LOCATION", small.string());
    // Random bytes do not pack smaller; the extractor refuses what unpacks to far more.
    offer("exit 0", tmpfsBytes * GetParam() / 10);
    {
        RunningFramework framework(RunningFramework::withModule());
        EXPECT_EQ(install(*framework.service<ITripwire>()), INSTALL_FAILED);
    }
    EXPECT_TRUE(fs::is_empty(small)) << "nothing left on the tmpfs";
    ::umount2(small.c_str(), MNT_DETACH);
    const std::vector<Json> events = home.events();
    ASSERT_EQ(events.size(), 1u);
    const std::string why =
        events[0][GetParam() > 10 ? "downloadErrorMessage" : "extractDownloadErrorMessage"];
    EXPECT_NE(why.find("not enough free space in " + small.string()), std::string::npos)
        << events[0].dump();
    EXPECT_EQ(events[0]["installerReturnCode"], "");
}

// Twice the tmpfs is refused before the download; seven tenths fit, but not twice over, which
// the extraction sees before it writes.
INSTANTIATE_TEST_SUITE_P(Stress, DiskFull, testing::Values(20, 7));

// terminate_children is one-way for the whole process, so each case runs in a process of its own.
struct Shutdown {
    const char* name;
    bool local;
    const char* prepare;
    int signal;
};

class InstallerTermination : public Stress, public testing::WithParamInterface<Shutdown> {};

TEST_P(InstallerTermination, EndsTheInstallerAndTheAttempt) {
    inOwnProcess([this] {
        const Shutdown& c = GetParam();
        const fs::path pids = home / "installer-runs";
        // The pid is written once the script is ready for the signal (its trap set).
        const std::string body =
            std::string(c.prepare) + "echo $$ >> '" + pids.string() + "'\nexec sleep 30";
        if (c.local)
            writeScriptKciArchive(home.sources() / "kci_9.1.0.7.zip", fixtureVersion, body);
        else
            offer(body);
        RunningFramework framework(RunningFramework::withModule());
        const std::shared_ptr<ITripwire> tripwire = framework.service<ITripwire>();
        ::alarm(30); // the install must return
        std::atomic<InstallConnectorResult> result{INSTALLED_AND_STARTED};
        std::thread installing([&] { result = install(*tripwire); });
        ASSERT_TRUE(eventually([&] { return fs::exists(pids); }));
        std::this_thread::sleep_for(20ms);
        foundation::core::process::terminate_children(300ms);
        installing.join();
        ::alarm(0);
        EXPECT_EQ(result, INSTALL_FAILED);
        const std::string runs = readFile(pids);
        ASSERT_EQ(std::count(runs.begin(), runs.end(), '\n'), 1) << "no rerun";
        EXPECT_NE(::kill(std::stoi(runs), 0), 0) << "the installer still runs";
        ::kill(std::stoi(runs), SIGKILL);
        EXPECT_EQ(home.workingDirectories(), std::vector<fs::path>());
        const std::vector<Json> events = home.events();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0]["installResult"], "INSTALL_FAILED");
        EXPECT_EQ(events[0]["installerReturnCode"], std::to_string(128 + c.signal));
        EXPECT_EQ(events[0]["installerRerunReturnCode"], "");
        EXPECT_EQ(events[0]["installerRerunEndTimestamp"] != "", c.local);
    });
}

INSTANTIATE_TEST_SUITE_P(Stress, InstallerTermination,
                         testing::Values(Shutdown{"Downloaded", false, "", SIGTERM},
                                         Shutdown{"IgnoringTerm", false, "trap '' TERM\n", SIGKILL},
                                         Shutdown{"LocalNotRerun", true, "", SIGTERM}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
