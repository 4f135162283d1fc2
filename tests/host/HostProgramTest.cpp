// The staged `tripwire` program as a user meets it, in a throw-away home, against real service
// hosts; and its download progress line and display, driven by a hand-set clock into a string.
#include "ProgressDisplay.h"
#include "ProgressLine.h"

#include <agent/control/AgentRegistration.h>
#include <tripwire/testsupport/KciArchive.h>
#include <tripwire/testsupport/ModuleHome.h>

#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace tripwire::testsupport;
using namespace tripwire_host;
using namespace std::chrono_literals;
using std::chrono::seconds;
using testing::AllOf;
using testing::EndsWith;
using testing::HasSubstr;
using testing::StartsWith;

class HostProgram : public testing::Test {
protected:
    HostProgram() {
        home.set("QB_LOG_MASK", std::nullopt);
        home.set("QB_LOG_FILE", std::nullopt);
        home.server().addFile("kci.zip", archive);
    }
    // Runs the staged program, in `directory` when given; standard output goes to a terminal
    // `columns` wide when given. `whileRunning` runs once it has started.
    ProgramRun tripwire(std::vector<std::string> arguments, unsigned short columns = 0,
                        const std::function<void(RunningProgram&)>& whileRunning = {},
                        const fs::path& directory = {}) {
        arguments.insert(arguments.begin(), (staged::root() / "bin/tripwire").string());
        if (columns > 0)
            return runOnTerminal(arguments, columns, directory, whileRunning);
        RunningProgram program(arguments);
        if (whileRunning)
            whileRunning(program);
        return program.finish();
    }
    // Offers 600 KiB that are no zip archive (under `sha256`): the download succeeds, its
    // extraction fails.
    void offer(const std::string& sha256 = {}) {
        home.server().setLatestDocument(
            latestDocument("2024.7.0.6", home.server().fileUrl("kci.zip"),
                           sha256.empty() ? sha256Hex(archive) : sha256));
    }
    fs::path lockFile() const { return home.lockRoot() / "RodudedOzovizazServiceHost.lock"; }
    // The pid in the service host's lock file once it is alive and not `other`; 0 when none.
    pid_t agentPid(pid_t other = 0) {
        pid_t pid = 0;
        const bool found = eventually([&] {
            pid = std::atoi(readFile(lockFile()).c_str());
            return pid > 0 && pid != other && isRunning(pid);
        });
        return found ? pid : 0;
    }

    ModuleHome home;
    const std::string archive = std::string(600 * 1024, 'x');
    const fs::path sampleHost = staged::sample("QuillbeckServiceHost");
};

// Help, however asked, lists the common options, placeholders, exit codes and the environment.
testing::Matcher<const std::string&> help(const char* own) {
    return AllOf(HasSubstr(own), HasSubstr("--mode MODE"), HasSubstr("--log-mask MASK"),
                 HasSubstr("--first-folder-override DIR"), HasSubstr("130  interrupted by SIGINT"),
                 HasSubstr("QB_URL_QUILLBECK_DOT_COM"));
}

TEST_F(HostProgram, AnswersEachCommandWithItsTextAndExitStatus) {
    // clang-format off
    const std::tuple<std::vector<std::string>, int, testing::Matcher<const std::string&>> cases[] = {
        {{"help"}, 0, help("")}, {{"help", "install"}, 0, help("--installation-root DIR")},
        {{"stop", "--help"}, 0, help("")}, {{"help", "check"}, 0, help("VERSION")},
        {{"help", "stop"}, 0, help("--grace SECONDS")},
        {{"--version"}, 0, StartsWith("tripwire ")},
        {{"info"}, 0, AllOf(HasSubstr("halvexconnector::tripwire::ITripwire: registered"),
                            HasSubstr("qbtripwireimpl.so"))},
        {{"--json", "--mode", "drive", "info"}, 0,
         HasSubstr(R"({"schema":1,"operation":"info","mode":"DRIVE","result":{)")},
        {{"info", "--mode", "7", "--json"}, 0, HasSubstr(R"("mode":"7")")},
        {{"--log-file", (home / "host.log").string(), "--log-mask", "0", "info"}, 0, testing::_},
        {{"running"}, 1, "false\n"}, {{"check", "1.0.0.0"}, 1, "NOT_INSTALLED\n"},
        {{"check", "4294967295.0.0.0"}, 1, "NOT_INSTALLED\n"}, {{"start"}, 1, "INSTALL_FAILED\n"},
        {{"--json", "check", "1.0.0.0", "--mode", "drive"}, 1,
         R"({"schema":1,"operation":"check","mode":"DRIVE","result":"NOT_INSTALLED"})" "\n"}};
    // clang-format on
    for (const auto& [arguments, status, out] : cases) {
        const ProgramRun run = tripwire(arguments);
        EXPECT_EQ(run.status, status) << testing::PrintToString(arguments) << run.err;
        EXPECT_THAT(run.out, out) << testing::PrintToString(arguments);
    }
    EXPECT_FALSE(fs::exists(home.lockRoot())) << "a start without installation starts nothing";
    EXPECT_TRUE(fs::exists(home / "host.log"));
}

// Each failure: how it is brought about, the command, the exit status and the start of the one
// line on standard error; usage errors print no result and ask no server.
TEST_F(HostProgram, EveryFailureExplainsItselfInOneLine) {
    using Case = std::tuple<std::function<void()>, std::vector<std::string>, int, std::string>;
    const std::string download =
        "tripwire: install failed: download of " + home.server().fileUrl("kci.zip");
    // clang-format off
    std::vector<Case> cases{
        {[&] { offer(std::string(64, '0')); }, {"install"}, 1, download + " failed: SHA-256 mismatch"},
        {[&] { offer(); }, {"install"}, 1, "tripwire: install failed: "},
        {[&] { writeScriptKciArchive(home.sources() / "kci_9.9.9.9.zip", "9.9.9.9", "exit 7\n"); },
         {"--mode", "drive", "install"}, 1, "tripwire: install failed: the installer exited with status 7\n"},
        {[&] { offer(); home.server().setLatestSignature("forged"); }, {"install"}, 1,
         "tripwire: install failed: latest-version check failed: refused the document " +
             home.server().url("/tripwire/latest.json") + ": the signature is not a minisign"},
        {[&] { home.server().setLatestDocument("gone", 404); }, {"install"}, 3,
         "tripwire: error: latest-version check failed: HTTP status 404 from " +
             home.server().url("/tripwire/latest.json") + "\n"},
        {{}, {"start"}, 1, "tripwire: start failed: no installation found"},
        {[&] { describeInstallation(home.driveRoot(), "1.0.0.0", "/bin/false"); },
         {"--mode", "drive", "start"}, 1,
         "tripwire: start failed: the launcher /bin/false exited with status 1\n"},
        {{}, {"instal"}, 2, "tripwire: unknown command 'instal' (did you mean 'install'?)\n"},
        {{}, {}, 2, "tripwire: a command is required: info, "},
        {{}, {"--log-file", "/nonexistent/x.log", "info"}, 2,
         "tripwire: --log-file: cannot open log file \"/nonexistent/x.log\""}};
    const std::vector<std::string> usage[] = {
        {"info", "--no-such-option"}, {"--mode", "sideways", "info"}, {"--mode", "1x", "info"},
        {"--log-mask", "0xZZ", "info"}, {"--log-mask", "0x1FFFFFFFF", "info"}, {"check"},
        {"check", "1.0.0"}, {"check", "1.0.0.0.0"}, {"check", "1.0.x.0"}, {"check", "1..0.0"},
        {"check", "-1.0.0.0"}, {"check", "+1.0.0.0"}, {"check", " 1.0.0.0"},
        {"check", "4294967296.0.0.0"}, {"check", "1.0.0.0 "}, {"install", "--installation-root", ""},
        {"install", "--installation-root"}, {"install", "--triggered-by"}, {"install", "--unknown"},
        {"install", "surplus"}, {"install", "--mode", "fast"}};
    // clang-format on
    for (const auto& arguments : usage)
        cases.push_back({{}, arguments, 2, "tripwire: "});
    for (const auto& [setUp, arguments, status, line] : cases) {
        const auto requests = home.server().requests().size();
        if (setUp)
            setUp();
        const ProgramRun r = tripwire(arguments);
        const std::string context = testing::PrintToString(arguments) + "\n" + r.err;
        EXPECT_EQ(r.status, status) << context;
        EXPECT_THAT(r.err, StartsWith(line)) << context;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << context;
        if (status == 2) {
            EXPECT_EQ(r.out, "") << context;
            EXPECT_EQ(home.server().requests().size(), requests) << context;
        }
        fs::remove_all(home.sources() / "kci_9.9.9.9.zip");
    }
}

TEST_F(HostProgram, AMissingModuleExitsWithThreeAndSaysWhich) {
    fs::create_directories(home / "tree/bin");
    fs::copy_file(staged::root() / "bin/tripwire", home / "tree/bin/tripwire");
    fs::create_directory_symlink(staged::root() / "lib", home / "tree/lib");
    const ProgramRun run = runProgram({(home / "tree/bin/tripwire").string(), "info"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("qbtripwireimpl.so"));
}

TEST_F(HostProgram, EveryCommandAnswersOneJsonObjectOfTheSchema) {
    using enum nlohmann::json::value_t;
    // clang-format off
    const std::vector<std::pair<std::vector<std::string>, nlohmann::json::value_t>> runs{
        {{"info"}, object}, {{"running"}, boolean}, {{"check", "1.0.0.0"}, string},
        {{"start"}, string}, {{"install"}, null}, {{"ensure", "1.0.0.0"}, null},
        {{"status"}, object}, {{"stop"}, object}, {{"watch"}, string}, {{"instal"}, null},
        {{"check", "1.0"}, null}, {{"--mode", "sideways", "status"}, null}, {{}, null},
        {{"--help"}, string}};
    // clang-format on
    for (auto [arguments, resultType] : runs) {
        arguments.insert(arguments.begin(), "--json");
        const ProgramRun r = tripwire(arguments);
        SCOPED_TRACE(testing::PrintToString(arguments) + r.out);
        ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
        const auto object = nlohmann::json::parse(r.out, nullptr, false);
        ASSERT_TRUE(object.is_object());
        EXPECT_EQ(object.at("schema"), 1);
        for (const char* member : {"operation", "mode"})
            EXPECT_TRUE(object.at(member).is_string() || object.at(member).is_null());
        const auto& result = object.at("result");
        const bool explained = r.status != 0 && (r.status != 1 || result.is_string()) &&
                               result != "NOT_INSTALLED" && result != "OLDER_THAN_REQUIRED";
        ASSERT_EQ(object.contains("error"), explained);
        if (explained) {
            EXPECT_THAT(object["error"].value("kind", ""),
                        testing::AnyOf("failure", "error", "usage", "interrupted"));
            EXPECT_NE(object["error"].value("message", ""), "");
            EXPECT_EQ(object["error"].size(), 2u);
        }
        EXPECT_EQ(r.status == 2 || r.status == 3, result.is_null());
        EXPECT_EQ(result.type(), resultType);
    }
    const auto status = nlohmann::json::parse(tripwire({"--json", "status"}).out).at("result");
    for (const char* member : {"running", "agents", "installation", "storageRoot", "lockRoot",
                               "lastInstall", "storageRootOverridden", "lockRootOverridden"})
        EXPECT_TRUE(status.contains(member)) << member;
}

TEST_F(HostProgram, QueriesAndStartFollowARealServiceHostAndTheFolderOverrides) {
    describeInstallation(home.storageRoot(), "2024.7.0.6", sampleHost);
    EXPECT_EQ(tripwire({"check", "1.0.0.0"}).out, "INSTALLED\n");
    EXPECT_EQ(tripwire({"check", "2024.7.0.7"}).out, "OLDER_THAN_REQUIRED\n");
    EXPECT_EQ(tripwire({"start"}).out, "INSTALLED_AND_STARTED\n");
    EXPECT_EQ(tripwire({"running"}).out, "true\n") << "the service host outlives its starter";
    home.stopAgents();
    EXPECT_EQ(tripwire({"running"}).out, "false\n");

    const std::string elsewhere = (home / "elsewhere").string();
    EXPECT_EQ(tripwire({"--first-folder-override", elsewhere, "check", "1.0.0.0"}).out,
              "NOT_INSTALLED\n");
    RunningProgram host({sampleHost.string(), "--lock-root", (home / "locks").string()});
    ASSERT_TRUE(eventually([&] { return home.agentRunning(home / "locks"); }));
    EXPECT_EQ(tripwire({"running", "--second-folder-override", (home / "locks").string()}).out,
              "true\n");
}

// A start that waits shows the seconds on the terminal, redrawn in place and never wider than
// the terminal, and clears the line before the result, at any width; a stop signal ends it.
TEST_F(HostProgram, AWaitingStartShowsTheSecondsAtEveryWidthAndEnsureTellsItsDecision) {
    describeInstallation(home.storageRoot(), "1.0.0.0", "/bin/sleep"); // never registers an agent
    const std::tuple<unsigned short, int, const char*> runs[] = {{80, SIGINT, "SIGINT"},
                                                                 {12, SIGTERM, "SIGTERM"}};
    for (const auto& [columns, signal, name] : runs) {
        const ProgramRun r = tripwire({"start"}, columns, [signal](RunningProgram& program) {
            std::this_thread::sleep_for(1500ms);
            ::kill(program.pid(), signal);
        });
        EXPECT_EQ(r.status, 128 + signal) << r.err;
        const std::string second = std::string("waiting for the service host: 1 s")
                                       .substr(0, static_cast<std::size_t>(columns) - 1);
        EXPECT_THAT(r.out, HasSubstr("\r" + second)) << columns;
        const auto result = r.out.rfind("\rFAILED_TO_START\n");
        ASSERT_NE(result, std::string::npos) << r.out;
        EXPECT_EQ(result + 17, r.out.size()) << r.out;
        // Until the result, nothing between two returns wider than the terminal less one column.
        for (std::size_t at = 0, next = 0; next < result; at = next + 1) {
            next = r.out.find('\r', at);
            EXPECT_LT(next - at, static_cast<std::size_t>(columns)) << r.out;
        }
        EXPECT_EQ(r.err, std::string("tripwire: interrupted (") + name + ")\n");
    }
    // Ensure tells each decision before it acts on it.
    const ProgramRun r = tripwire({"ensure", "1.0.0.0"}, 0, [](RunningProgram& program) {
        EXPECT_EQ(program.firstLine(), "the service host is not running");
        ::kill(program.pid(), SIGINT);
    });
    EXPECT_EQ(r.status, 130) << r.err;
}

TEST_F(HostProgram, InstallsTheDownloadedSampleBelowTheDirectoryItWasStartedIn) {
    const std::string version = SAMPLE_VERSION;
    home.offer(staged::kciArchive(), version);
    const ProgramRun shown = tripwire(
        {"--mode", "drive", "install", "--triggered-by", "test", "--installation-root", "root"}, 80,
        {}, home.path());
    EXPECT_EQ(shown.status, 0) << shown.out << shown.err;
    EXPECT_TRUE(fs::is_directory(home / "root" / ("v" + version)));
    const std::string url = home.server().fileUrl("kci_" + version + ".zip");
    EXPECT_THAT(shown.out, HasSubstr("installer\n  version " + version + " from " + url + "\n"));
    const auto download = shown.out.find("Looking up the latest installer\n");
    ASSERT_NE(download, std::string::npos) << shown.out;
    for (const char* stage : {"Downloading the installer\n",
                              "Extracting the downloaded installer\n", "Running the installer\n"})
        EXPECT_THAT(shown.out, HasSubstr(stage));
    // At least one progress line ("received / total"), drawn in place.
    EXPECT_NE(shown.out.find(" / ", shown.out.find('\r', download)), std::string::npos);
    EXPECT_THAT(shown.out, testing::Not(HasSubstr("Starting the service host")));
    EXPECT_THAT(shown.out, EndsWith("INSTALLED_AND_STARTED\n"));
    // Off a terminal what the installer prints goes to standard error, the object stays alone.
    const ProgramRun json = tripwire({"--json", "install"});
    EXPECT_EQ(json.out, R"({"schema":1,"operation":"install","mode":"STANDARD","result":)"
                        R"("INSTALLED_AND_STARTED","download":{"version":")" +
                            version + R"(","url":")" + url + "\"}}\n");
    EXPECT_THAT(json.err, HasSubstr("installed " + version));
    EXPECT_THAT(json.err, testing::Not(HasSubstr("Downloading the installer")));
    EXPECT_EQ(json.err.find('\r'), std::string::npos) << "progress on a terminal only";
    const pid_t first = agentPid();
    ASSERT_NE(first, 0);
    EXPECT_THAT(tripwire({"--json", "install"}, 80).out,
                StartsWith(R"({"schema":1,"operation":"install","mode":"STANDARD","result":)"));
    // The installer stops the service host that runs, so the module starts the new one instead
    // of finding the old one.
    EXPECT_NE(agentPid(first), 0);
    EXPECT_FALSE(isRunning(first)) << "the old service host still runs";
}

TEST_F(HostProgram, StopSignalsOnlyTheProcessThatHoldsTheLock) {
    // This test holds the lock; the file names a bystander, as after a crash and pid reuse.
    RunningProgram bystander({"/bin/sleep", "30"});
    {
        agent::control::AgentRegistration held(home.lockRoot(), "RodudedOzovizazServiceHost");
        writeFile(lockFile(), std::to_string(bystander.pid()) + "\nRodudedOzovizazServiceHost\n");
        const ProgramRun r = tripwire({"stop", "--grace", "0"});
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr("still running"));
        EXPECT_TRUE(isRunning(bystander.pid()));
    }
    RunningProgram host({sampleHost.string()});
    ASSERT_EQ(agentPid(bystander.pid()), host.pid());
    const ProgramRun r = tripwire({"stop"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "stopped RodudedOzovizazServiceHost (pid " + std::to_string(host.pid()) + ")\n");
    EXPECT_EQ(host.finish().status, 0);
    EXPECT_TRUE(isRunning(bystander.pid()));
}

// The launcher runs the service host twice, then fails at once: watch sees one restart after a
// SIGKILL, then gives up once the keep-alive's budget is spent.
TEST_F(HostProgram, WatchRestartsAKilledServiceHostAndGivesUpWithTheKeepAlive) {
    const std::string runs = (home / "runs").string();
    describeInstallation(home.storageRoot(), "1.0.0.0",
                         writeScript(home / "launcher", "echo >> '" + runs + "'\n[ $(wc -l < '" +
                                                            runs + "') -le 2 ] || exit 1\nexec '" +
                                                            sampleHost.string() + "'"));
    const ProgramRun r = tripwire({"watch", "--patience", "3"}, 0, [&](RunningProgram& watch) {
        // Each kill only once watch has told of the agent, so that its start is over.
        const auto told = [&](const std::string& line) {
            return eventually([&] { return watch.errorSoFar().find(line) != std::string::npos; });
        };
        const auto first = agentPid();
        ASSERT_TRUE(first && told("watching RodudedOzovizazServiceHost"));
        ::kill(first, SIGKILL);
        const auto second = agentPid(first);
        ASSERT_TRUE(second && told("started again: RodudedOzovizazServiceHost (pid " +
                                   std::to_string(second) + ")"));
        ::kill(second, SIGKILL);
    });
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("tripwire: watch failed: the service host keeps ending"));
}

TEST(ProgressLine, FormatsEachQuantityAndFitsTheWidth) {
    // clang-format off
    const std::pair<std::uint64_t, const char*> bytes[] = {
        {0, "0 B"}, {1023, "1023 B"}, {1024, "1.0 KiB"}, {1536, "1.5 KiB"},
        {1024 * 1024 - 1, "1.0 MiB"}, {5ull << 30, "5.0 GiB"}, {UINT64_MAX, "16384.0 PiB"}};
    // clang-format on
    for (const auto& [count, text] : bytes)
        EXPECT_EQ(ProgressLine::formatBytes(count), text);
    const std::pair<double, const char*> rates[] = {
        {2.5 * 1024 * 1024, "2.5 MiB/s"}, {0, "0 B/s"}, {-3, "0 B/s"}, {HUGE_VAL, "0 B/s"}};
    for (const auto& [rate, text] : rates)
        EXPECT_EQ(ProgressLine::formatRate(rate), text);
    const std::pair<int, const char*> durations[] = {
        {0, "0:00"}, {42, "0:42"}, {725, "12:05"}, {3723, "1:02:03"}};
    for (const auto& [duration, text] : durations)
        EXPECT_EQ(ProgressLine::formatDuration(seconds(duration)), text);
    const std::pair<TransferSnapshot, std::optional<seconds>> left[] = {
        {{100, 1000, 100.0}, seconds(9)},          {{100, 1001, 100.0}, seconds(10)},
        {{2000, 1000, 100.0}, seconds(0)},         {{100, std::nullopt, 100.0}, std::nullopt},
        {{100, 1000, std::nullopt}, std::nullopt}, {{100, 1000, 0.0}, std::nullopt},
        {{0, UINT64_MAX, 1.0}, std::nullopt}};
    for (const auto& [snapshot, expected] : left)
        EXPECT_EQ(ProgressLine::timeLeft(snapshot), expected) << snapshot.received;
    const std::string line = ProgressLine(80).text({512 * 1024, 1024 * 1024, 256.0 * 1024});
    EXPECT_EQ(line.rfind("512.0 KiB / 1.0 MiB  256.0 KiB/s  0:02 left  [", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 6), "]  50%");
    EXPECT_EQ(line.size(), 79u);
    EXPECT_EQ(std::count(line.begin(), line.end(), '#'),
              static_cast<long>((line.find(']') - line.find('[') - 1) / 2));
    EXPECT_EQ(ProgressLine(80).text({2048, std::nullopt, 1024.0}), "2.0 KiB  1.0 KiB/s");
    EXPECT_EQ(ProgressLine(80).text({0, 0, std::nullopt}), "0 B / 0 B");
    const TransferSnapshot over{3000, 1000, 1e6}; // more than announced
    for (std::size_t width : {0u, 1u, 10u, 30u, 40u, 45u, 60u, 200u})
        EXPECT_LE(ProgressLine(width).text(over).size(), width > 0 ? width - 1 : 0) << width;
    EXPECT_THAT(ProgressLine(200).text(over), EndsWith("#] 100%"));
    EXPECT_EQ(ProgressLine(50).text(over), "2.9 KiB / 1000 B  976.6 KiB/s  0:00 left");
    EXPECT_EQ(ProgressLine(20).text(over), "2.9 KiB / 1000 B  9");
}

TEST(ProgressDisplay, RedrawsOneLineAtMostTenTimesASecondAndClearsItForAStageOrTheEnd) {
    std::ostringstream out;
    std::chrono::steady_clock::time_point now{};
    auto display = std::make_unique<ProgressDisplay>(out, 60, [&now] { return now; });
    const auto take = [&out] {
        const std::string text = out.str();
        out.str({});
        return text;
    };
    display->stageEntered("Looking up the latest installer");
    EXPECT_EQ(take(), "Looking up the latest installer\n");
    display->transferStarted();
    display->transferProgress(100, 1000);
    EXPECT_EQ(take(), "\r" + ProgressLine(60).text({100, 1000, std::nullopt}));
    now += 50ms;
    display->transferProgress(200, 1000);
    EXPECT_EQ(take(), "") << "too soon after the last redraw";
    now += 950ms;
    display->transferProgress(2048, std::nullopt);
    const std::string longer = take().substr(1);
    now += 1s;
    display->transferProgress(0, std::nullopt);
    const std::string shorter = ProgressLine(60).text({0, std::nullopt, 0.0});
    EXPECT_EQ(take(), "\r" + shorter + std::string(longer.size() - shorter.size(), ' '));
    display->stageEntered("Running the installer");
    EXPECT_EQ(take(), "\r" + std::string(longer.size(), ' ') + "\rRunning the installer\n");
    display = std::make_unique<ProgressDisplay>(out, 60, [&now] { return now; });
    display->transferProgress(5, 10); // its start unseen: still drawn
    const std::size_t drawn = take().size() - 1;
    display.reset();
    EXPECT_EQ(take(), "\r" + std::string(drawn, ' ') + "\r") << "the line goes with the display";
}

// Observer calls come from the installing thread and the host's own: no line is torn.
TEST(ProgressDisplay, CallsFromSeveralThreadsKeepLinesWhole) {
    std::ostringstream out;
    {
        ProgressDisplay display(out, 60, std::chrono::steady_clock::now, 0ms);
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&display, t] {
                for (std::uint64_t i = 0; i < 200; ++i) {
                    if (i % 50 == 0)
                        display.stageEntered("stage " + std::to_string(t));
                    display.transferProgress(i, 200);
                }
            });
    }
    std::istringstream lines(out.str());
    int stages = 0;
    for (std::string line; std::getline(lines, line);) {
        if (!lines.eof()) {
            EXPECT_EQ(line.substr(line.rfind('\r') + 1).rfind("stage ", 0), 0u) << line;
            ++stages;
        }
    }
    EXPECT_EQ(stages, 16);
}

} // namespace
