// `tripwire install` run as a user runs it: its arguments, and that progress is shown on a
// terminal only. The attempts download a broken archive from a loopback server, so they fail
// after the download without running anything.
#include <tripwire/testsupport/KciArchive.h>
#include <tripwire/testsupport/LoopbackServer.h>
#include <tripwire/testsupport/TempDirectory.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace stdfs = std::filesystem;
using tripwire::testsupport::LoopbackServer;
using tripwire::testsupport::TempDirectory;

std::string stageDir() {
    const char* dir = std::getenv("TRIPWIRE_STAGE_DIR");
    if (dir == nullptr || *dir == '\0') {
        throw std::runtime_error("TRIPWIRE_STAGE_DIR is not set");
    }
    return dir;
}

std::string readFile(const stdfs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

// A pseudo-terminal 80 columns wide that passes bytes through unchanged.
class PseudoTerminal {
public:
    PseudoTerminal() : master(::posix_openpt(O_RDWR | O_NOCTTY)) {
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        termios settings{};
        ::tcgetattr(master, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(master, TCSANOW, &settings);
        winsize size{};
        size.ws_col = 80;
        size.ws_row = 24;
        ::ioctl(master, TIOCSWINSZ, &size);
    }
    ~PseudoTerminal() { ::close(master); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    std::string slaveName() const { return ::ptsname(master); }

    // Everything written until the last writer closed its side.
    std::string readAll() const {
        std::string text;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                text.append(buffer, static_cast<std::size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                return text; // EIO: no writer left
            }
        }
    }

private:
    int master;
};

class InstallCommand : public ::testing::Test {
protected:
    InstallCommand() {
        // Not a zip archive: the download succeeds, its extraction fails.
        archive = std::string(600 * 1024, 'x');
        server.addFile("kci_broken.zip", archive);
        server.setLatestDocument(tripwire::testsupport::latestDocument(
            "2024.7.0.6", server.fileUrl("kci_broken.zip"),
            tripwire::testsupport::sha256Hex(archive), archive.size()));
        stdfs::create_directories(scratch / "sources");
        environment = {"HOME=" + scratch.path().string(),
                       "XDG_DATA_HOME=" + (scratch / "data").string(),
                       "PATH=/usr/bin:/bin",
                       "QB_TELEMETRY_DIR=" + (scratch / "telx").string(),
                       "QB_URL_QUILLBECK_DOT_COM=" + server.baseUrl(),
                       "QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES=" + (scratch / "sources").string()};
    }

    // Runs the program; standard output goes to `terminal` when given, else to a file. `started`
    // runs once the program has been started.
    Finished tripwire(std::vector<std::string> arguments, const PseudoTerminal* terminal = nullptr,
                      const stdfs::path& workingDirectory = {},
                      const std::function<void(pid_t)>& started = {}) {
        arguments.insert(arguments.begin(), stageDir() + "/bin/tripwire");
        const stdfs::path outFile = scratch / "out";
        const stdfs::path errFile = scratch / "err";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (!workingDirectory.empty()) {
            posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
        }
        const std::string outPath = terminal ? terminal->slaveName() : outFile.string();
        posix_spawn_file_actions_addopen(
            &actions, 1, outPath.c_str(),
            terminal ? O_RDWR | O_NOCTTY : O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        std::vector<char*> args;
        for (auto& argument : arguments) {
            args.push_back(argument.data());
        }
        args.push_back(nullptr);
        std::vector<char*> env;
        for (auto& entry : environment) {
            env.push_back(entry.data());
        }
        env.push_back(nullptr);
        pid_t pid = -1;
        const int error = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            throw std::runtime_error("cannot start " + arguments[0]);
        }
        if (started) {
            started(pid);
        }
        Finished result;
        if (terminal) {
            result.out = terminal->readAll();
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (!terminal) {
            result.out = readFile(outFile);
        }
        result.err = readFile(errFile);
        return result;
    }

    bool archiveWasDownloaded() const {
        for (const auto& request : server.requests()) {
            if (request.path == "/files/kci_broken.zip") {
                return true;
            }
        }
        return false;
    }

    TempDirectory scratch;
    LoopbackServer server;
    std::string archive;
    std::vector<std::string> environment;
};

TEST_F(InstallCommand, BadArgumentsAreUsageErrorsThatTouchNothing) {
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"install", "--installation-root", ""},
                                               {"install", "--installation-root"},
                                               {"install", "--triggered-by"},
                                               {"install", "--unknown"},
                                               {"install", "surplus"},
                                               {"install", "--mode", "fast"}}) {
        const Finished r = tripwire(arguments);
        EXPECT_EQ(r.status, 2) << arguments.back() << ": " << r.err;
        EXPECT_EQ(r.out, "") << arguments.back();
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(InstallCommand, WithoutATerminalPrintsTheResultAlone) {
    for (const bool json : {false, true}) {
        std::vector<std::string> arguments{"install", "--triggered-by", "test",
                                           "--installation-root", "relative/root"};
        if (json) {
            arguments.insert(arguments.begin(), "--json");
        }
        const Finished r = tripwire(arguments);
        EXPECT_EQ(r.err.find('\r'), std::string::npos);
        EXPECT_EQ(r.err.find("Downloading the installer"), std::string::npos) << r.err;
        EXPECT_TRUE(archiveWasDownloaded());
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.out.rfind(json ? "{\"schema\":1,\"operation\":\"install\",\"mode\":"
                                     "\"STANDARD\",\"result\":\"INSTALL_FAILED\",\"error\":"
                                   : "INSTALL_FAILED\n",
                              0),
                  0u)
            << r.out;
    }
}

TEST_F(InstallCommand, OnATerminalShowsTheStagesAndTheDownloadThenTheResult) {
    PseudoTerminal terminal;
    const Finished r = tripwire({"install"}, &terminal);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(archiveWasDownloaded());
    const std::string& shown = r.out;
    const auto lookup = shown.find("Looking up the latest installer\n");
    const auto download = shown.find("Downloading the installer\n");
    ASSERT_NE(lookup, std::string::npos) << shown;
    ASSERT_NE(download, std::string::npos) << shown;
    EXPECT_LT(lookup, download);
    // At least one progress line after the stage, showing the announced size, then cleared.
    const auto progress = shown.find("\r", download);
    ASSERT_NE(progress, std::string::npos) << shown;
    EXPECT_NE(shown.find(" / 600.0 KiB", progress), std::string::npos) << shown;
    const auto result = shown.rfind("INSTALL_FAILED\n");
    ASSERT_NE(result, std::string::npos) << shown;
    EXPECT_EQ(result + std::string("INSTALL_FAILED\n").size(), shown.size()) << shown;
    // The result starts a clean line: right after a newline or after a cleared progress line.
    EXPECT_TRUE(shown[result - 1] == '\n' || shown[result - 1] == '\r') << shown;
    EXPECT_EQ(r.err.find('\r'), std::string::npos);

    // --json on the same terminal: the object alone.
    PseudoTerminal again;
    const Finished json = tripwire({"--json", "install"}, &again);
    EXPECT_EQ(json.out.rfind("{\"schema\":1,\"operation\":\"install\",\"mode\":\"STANDARD\","
                             "\"result\":\"INSTALL_FAILED\",\"error\":",
                             0),
              0u)
        << json.out;
}

// A stop signal stops the framework, whose HTTP client bundle closes the stalled download: the
// failure is printed as usual.
TEST_F(InstallCommand, AStopSignalEndsTheDownloadInProgress) {
    server.setLatestDocument(tripwire::testsupport::latestDocument(
        "2024.7.0.6", server.fileUrl("kci_broken.zip", "stall=1000")));
    environment.push_back("QB_HTTPCLIENT_STALL_SECONDS=1");
    const Finished r = tripwire({"install"}, nullptr, {}, [this](pid_t pid) {
        for (int i = 0; i < 1000 && !archiveWasDownloaded(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid, SIGINT);
    });
    ASSERT_TRUE(archiveWasDownloaded());
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_EQ(r.out, "INSTALL_FAILED\n");
}

// An installer that never ends is ended by the stop signal, and the attempt cleans up after it.
TEST_F(InstallCommand, AStopSignalEndsAHangingInstallerAndItsWorkingDirectory) {
    const stdfs::path pidFile = scratch / "installer.pid";
    tripwire::testsupport::writeScriptKciArchive(scratch / "sources" / "kci_9.9.9.9.zip", "9.9.9.9",
                                                 "echo $$ > '" + pidFile.string() +
                                                     "'\nwhile :; do sleep 0.05; done\n");
    const Finished r = tripwire({"install"}, nullptr, {}, [&](pid_t pid) {
        for (int i = 0; i < 1000 && !stdfs::exists(pidFile); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid, SIGTERM);
    });
    EXPECT_EQ(r.status, 143) << r.err;
    EXPECT_EQ(r.out, "INSTALL_FAILED\n");
    std::ifstream pidText(pidFile);
    pid_t installer = 0;
    ASSERT_TRUE(pidText >> installer);
    EXPECT_NE(::kill(installer, 0), 0) << "the installer still runs";
    // The storage root holds no working directory any more.
    const stdfs::path storage = scratch / "data" / "Quillbeck" / "RodudedOzovizaz";
    if (stdfs::exists(storage)) {
        for (const auto& entry : stdfs::directory_iterator(storage)) {
            EXPECT_EQ(entry.path().filename().string().rfind("_tmp_QSHI_", 0), std::string::npos)
                << entry.path();
        }
    }
}

// The staged sample archive, downloaded and installed for real: the drive mode starts nothing.
TEST_F(InstallCommand, OnATerminalInstallsTheDownloadedSampleWhereItIsTold) {
    std::optional<stdfs::path> sample;
    const stdfs::path sampleDir = stageDir() + "/sys/qbds/win64";
    for (const auto& entry : stdfs::directory_iterator(sampleDir)) {
        if (entry.path().filename().string().rfind("kci_", 0) == 0) {
            sample = entry.path();
        }
    }
    ASSERT_TRUE(sample.has_value()) << "no sample archive in " << sampleDir;
    const std::string name = sample->filename().string();
    const std::string version = name.substr(4, name.size() - 8); // kci_<version>.zip
    server.addFileFromDisk(name, *sample);
    server.setLatestDocument(tripwire::testsupport::latestDocument(version, server.fileUrl(name)));

    PseudoTerminal terminal;
    // A relative installation root means one below the directory the program was started in.
    const Finished r = tripwire(
        {"--mode", "drive", "install", "--triggered-by", "test", "--installation-root", "root"},
        &terminal, scratch.path());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(stdfs::is_directory(scratch / "root" / ("v" + version))) << r.out;
    for (const char* stage : {"Downloading the installer\n",
                              "Extracting the downloaded installer\n", "Running the installer\n"}) {
        EXPECT_NE(r.out.find(stage), std::string::npos) << stage << r.out;
    }
    EXPECT_EQ(r.out.find("Starting the service host"), std::string::npos) << r.out;
    const std::string result = "INSTALLED_AND_STARTED\n";
    ASSERT_GE(r.out.size(), result.size());
    EXPECT_EQ(r.out.substr(r.out.size() - result.size()), result) << r.out;

    // Without a terminal, what the installer prints goes to standard error: the object stays
    // alone on standard output.
    const Finished json =
        tripwire({"--json", "--mode", "drive", "install", "--installation-root", "root"}, nullptr,
                 scratch.path());
    EXPECT_EQ(json.out, "{\"schema\":1,\"operation\":\"install\",\"mode\":\"DRIVE\",\"result\":"
                        "\"INSTALLED_AND_STARTED\"}\n");
    EXPECT_NE(json.err.find("installed " + version), std::string::npos) << json.err;
}

} // namespace
