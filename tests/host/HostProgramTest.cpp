// The staged `tripwire` program run as a user runs it, in a throw-away home: its commands, their
// output and exit status, the progress shown on a terminal only, and stop signals.
#include <tripwire/testsupport/KciArchive.h>
#include <tripwire/testsupport/ModuleHome.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <thread>

namespace {

constexpr const char* kInstallFailedObject =
    R"({"schema":1,"operation":"install","mode":"STANDARD","result":"INSTALL_FAILED","error":)";

namespace fs = std::filesystem;
using namespace tripwire::testsupport;
using testing::EndsWith;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::StartsWith;

class HostProgram : public testing::Test {
protected:
    HostProgram() {
        home.set("QB_LOG_MASK", std::nullopt);
        home.set("QB_LOG_FILE", std::nullopt);
    }
    static std::vector<std::string> command(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), (staged::root() / "bin/tripwire").string());
        return arguments;
    }
    ProgramRun tripwire(const std::vector<std::string>& arguments) {
        return runProgram(command(arguments));
    }
    // Runs it with standard output on a terminal, in `directory` when given.
    ProgramRun onTerminal(const std::vector<std::string>& arguments,
                          const fs::path& directory = {}) {
        return runOnTerminal(command(arguments), 80, directory);
    }
    bool requested(const std::string& path) {
        for (const auto& request : home.server().requests()) {
            if (request.path == path) {
                return true;
            }
        }
        return false;
    }
    // Runs `arguments`, sends `signal` once `ready` holds, and returns how it ended.
    ProgramRun signalledWhen(const std::vector<std::string>& arguments,
                             const std::function<bool()>& ready, int signal) {
        RunningProgram program(command(arguments));
        EXPECT_TRUE(eventually(ready));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::kill(program.pid(), signal);
        const auto signalled = std::chrono::steady_clock::now();
        ProgramRun run = program.finish();
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(10));
        return run;
    }
    // Serves 600 KiB that are no zip archive: the download succeeds, its extraction fails.
    void offerBrokenArchive(const std::string& fault = {}) {
        std::ofstream(home / "broken.zip") << std::string(600 * 1024, 'x');
        home.offer(home / "broken.zip", "2024.7.0.6", fault);
    }

    ModuleHome home;
    const fs::path sampleHost = staged::sample("QuillbeckServiceHost");
};

TEST_F(HostProgram, AnswersEachCommandWithItsTextAndExitStatus) {
    const std::string notInstalled = "NOT_INSTALLED\n";
    const struct {
        std::vector<std::string> arguments;
        int status;
        testing::Matcher<const std::string&> out;
    } cases[] = {
        {{"--version"}, 0, StartsWith("tripwire ")},
        {{"info"}, 0, HasSubstr("halvexconnector::tripwire::ITripwire: registered")},
        {{"info"}, 0, HasSubstr("qbtripwireimpl.so")},
        {{"--json", "--mode", "drive", "info"},
         0,
         HasSubstr(R"({"schema":1,"operation":"info","mode":"DRIVE","result":{)")},
        {{"info", "--mode", "7", "--json"}, 0, HasSubstr(R"("mode":"7")")},
        {{"running"}, 1, "false\n"},
        {{"check", "1.0.0.0"}, 1, notInstalled},
        {{"check", "4294967295.0.0.0"}, 1, notInstalled},
        {{"start"}, 1, "INSTALL_FAILED\n"},
        {{"--json", "check", "1.0.0.0", "--mode", "drive"},
         1,
         R"({"schema":1,"operation":"check","mode":"DRIVE","result":"NOT_INSTALLED"})"
         "\n"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = tripwire(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments.front() << run.err;
        EXPECT_THAT(run.out, c.out) << c.arguments.front();
    }
    EXPECT_FALSE(fs::exists(home.lockRoot())) << "a start without installation starts nothing";
    const fs::path logFile = home / "host.log";
    EXPECT_EQ(tripwire({"--log-file", logFile.string(), "--log-mask", "0", "info"}).status, 0);
    EXPECT_TRUE(fs::exists(logFile));
}

TEST_F(HostProgram, UsageErrorsExitWithTwoAndPrintNoResult) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{},
                                               {"nonsense"},
                                               {"info", "--no-such-option"},
                                               {"--mode", "sideways", "info"},
                                               {"--mode", "1x", "info"},
                                               {"--log-mask", "0xZZ", "info"},
                                               {"--log-mask", "0x1FFFFFFFF", "info"},
                                               {"check"},
                                               {"check", "1.0.0"},
                                               {"check", "1.0.0.0.0"},
                                               {"check", "1.0.x.0"},
                                               {"check", "1..0.0"},
                                               {"check", "-1.0.0.0"},
                                               {"check", "+1.0.0.0"},
                                               {"check", " 1.0.0.0"},
                                               {"check", "4294967296.0.0.0"},
                                               {"check", "1.0.0.0 "},
                                               {"install", "--installation-root", ""},
                                               {"install", "--installation-root"},
                                               {"install", "--triggered-by"},
                                               {"install", "--unknown"},
                                               {"install", "surplus"},
                                               {"install", "--mode", "fast"}}) {
        const ProgramRun run = tripwire(arguments);
        EXPECT_EQ(run.status, 2) << testing::PrintToString(arguments) << run.err;
        EXPECT_EQ(run.out, "") << testing::PrintToString(arguments);
        EXPECT_NE(run.err, "") << testing::PrintToString(arguments);
    }
    EXPECT_THAT(home.server().requests(), IsEmpty());
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

TEST_F(HostProgram, QueriesAndStartFollowARealServiceHostAndTheFolderOverrides) {
    describeInstallation(home.storageRoot(), "2024.7.0.6", sampleHost);
    EXPECT_EQ(tripwire({"check", "1.0.0.0"}).out, "INSTALLED\n");
    EXPECT_EQ(tripwire({"--json", "check", "2024.7.0.7"}).out,
              R"({"schema":1,"operation":"check","mode":"STANDARD","result":"OLDER_THAN_REQUIRED"})"
              "\n");
    const ProgramRun started = tripwire({"start"});
    EXPECT_EQ(started.out, "INSTALLED_AND_STARTED\n");
    EXPECT_EQ(started.status, 0) << started.err;
    const ProgramRun running = tripwire({"running"});
    EXPECT_EQ(running.out, "true\n") << "the service host outlives the program that started it";
    EXPECT_EQ(running.status, 0);
    home.stopAgents();
    EXPECT_EQ(tripwire({"running"}).out, "false\n");

    EXPECT_EQ(
        tripwire({"--first-folder-override", (home / "elsewhere").string(), "check", "1.0.0.0"})
            .out,
        "NOT_INSTALLED\n");
    RunningProgram host({sampleHost.string(), "--lock-root", (home / "locks").string()});
    ASSERT_TRUE(eventually([&] { return home.agentRunning(home / "locks"); }));
    EXPECT_EQ(tripwire({"running", "--second-folder-override", (home / "locks").string()}).out,
              "true\n");
}

TEST_F(HostProgram, AStopSignalEndsAStartWaitingForItsAgent) {
    const fs::path pidFile = home / "launcher.pid";
    describeInstallation(home.storageRoot(), "2024.7.0.6",
                         writeScript(home / "launcher", "echo $$ > '" + pidFile.string() +
                                                            ".part'\nmv '" + pidFile.string() +
                                                            ".part' '" + pidFile.string() +
                                                            "'\nexec sleep 60"));
    for (const int signal : {SIGINT, SIGTERM}) {
        fs::remove(pidFile);
        const ProgramRun run = signalledWhen(
            {"start"}, [&] { return fs::exists(pidFile); }, signal);
        ::kill(std::stoi(readFile(pidFile)), SIGKILL);
        EXPECT_EQ(run.out, "FAILED_TO_START\n") << signal;
        EXPECT_EQ(run.status, 128 + signal) << run.err;
    }
}

TEST_F(HostProgram, InstallShowsProgressOnATerminalOnly) {
    offerBrokenArchive();
    for (const bool json : {false, true}) {
        std::vector<std::string> arguments{"install", "--triggered-by", "test",
                                           "--installation-root", "relative/root"};
        if (json) {
            arguments.insert(arguments.begin(), "--json");
        }
        const ProgramRun run = tripwire(arguments);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_THAT(run.out,
                    json ? StartsWith(kInstallFailedObject) : StartsWith("INSTALL_FAILED\n"));
        EXPECT_THAT(run.err, testing::Not(HasSubstr("Downloading the installer")));
        EXPECT_EQ(run.err.find('\r'), std::string::npos);
    }
    EXPECT_TRUE(requested("/files/kci_2024.7.0.6.zip"));

    const ProgramRun shown = onTerminal({"install"});
    EXPECT_EQ(shown.status, 1) << shown.err;
    const auto download =
        shown.out.find("Looking up the latest installer\nDownloading the installer\n");
    ASSERT_NE(download, std::string::npos) << shown.out;
    // At least one progress line with the announced size, cleared before the result.
    EXPECT_NE(shown.out.find(" / 600.0 KiB", shown.out.find('\r', download)), std::string::npos);
    const std::string::size_type result = shown.out.rfind("INSTALL_FAILED\n");
    ASSERT_NE(result, std::string::npos) << shown.out;
    EXPECT_THAT(shown.out, EndsWith("INSTALL_FAILED\n"));
    EXPECT_TRUE(shown.out[result - 1] == '\n' || shown.out[result - 1] == '\r');
    EXPECT_THAT(onTerminal({"--json", "install"}).out, StartsWith(kInstallFailedObject));
}

TEST_F(HostProgram, InstallsTheDownloadedSampleBelowTheDirectoryItWasStartedIn) {
    const std::string version = SAMPLE_VERSION;
    home.offer(staged::kciArchive(), version);
    const ProgramRun shown = onTerminal(
        {"--mode", "drive", "install", "--triggered-by", "test", "--installation-root", "root"},
        home.path());
    EXPECT_EQ(shown.status, 0) << shown.out << shown.err;
    EXPECT_TRUE(fs::is_directory(home / "root" / ("v" + version)));
    const std::string url = home.server().fileUrl("kci_" + version + ".zip");
    EXPECT_THAT(shown.out, HasSubstr("installer\n  version " + version + " from " + url + "\n"));
    for (const char* stage : {"Downloading the installer\n",
                              "Extracting the downloaded installer\n", "Running the installer\n"}) {
        EXPECT_THAT(shown.out, HasSubstr(stage));
    }
    EXPECT_THAT(shown.out, testing::Not(HasSubstr("Starting the service host")));
    EXPECT_THAT(shown.out, EndsWith("INSTALLED_AND_STARTED\n"));
    // Off a terminal what the installer prints goes to standard error, the object stays alone.
    const ProgramRun json = tripwire({"--json", "--mode", "drive", "install"});
    EXPECT_EQ(json.out, R"({"schema":1,"operation":"install","mode":"DRIVE","result":)"
                        R"("INSTALLED_AND_STARTED","download":{"version":")" +
                            version + R"(","url":")" + url + "\"}}\n");
    EXPECT_THAT(json.err, HasSubstr("installed " + version));
}

// A stop signal stops the framework: the client bundle closes a stalled download, and a hanging
// installer is ended with its working directory.
TEST_F(HostProgram, AStopSignalEndsTheDownloadOrTheInstallerInProgress) {
    home.set("QB_HTTPCLIENT_STALL_SECONDS", "1");
    offerBrokenArchive("stall=1000");
    ProgramRun run = signalledWhen(
        {"install"}, [&] { return requested("/files/kci_2024.7.0.6.zip"); }, SIGINT);
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_EQ(run.out, "INSTALL_FAILED\n");

    const fs::path pidFile = home / "installer.pid";
    writeScriptKciArchive(home.sources() / "kci_9.9.9.9.zip", "9.9.9.9",
                          "echo $$ > '" + pidFile.string() + ".part'\nmv '" + pidFile.string() +
                              ".part' '" + pidFile.string() + "'\nwhile :; do sleep 0.05; done");
    run = signalledWhen(
        {"install"}, [&] { return fs::exists(pidFile); }, SIGTERM);
    EXPECT_EQ(run.status, 143) << run.err;
    EXPECT_EQ(run.out, "INSTALL_FAILED\n");
    EXPECT_NE(::kill(std::stoi(readFile(pidFile)), 0), 0) << "the installer still runs";
    EXPECT_THAT(home.workingDirectories(), IsEmpty());
}

} // namespace
