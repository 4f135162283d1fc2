// What a user sees when something goes wrong: the one line on standard error, the exit status,
// the JSON object of every command, and the help.
#include <tripwire/testsupport/KciArchive.h>
#include <tripwire/testsupport/LoopbackServer.h>
#include <tripwire/testsupport/TempDirectory.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace stdfs = std::filesystem;
using tripwire::testsupport::LoopbackServer;
using tripwire::testsupport::TempDirectory;

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readFile(const stdfs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CommandLine : public ::testing::Test {
protected:
    CommandLine() {
        archive = std::string(64 * 1024, 'x');
        server.addFile("kci.zip", archive);
        stdfs::create_directories(scratch / "sources");
        environment = {"HOME=" + scratch.path().string(),
                       "XDG_DATA_HOME=" + (scratch / "data").string(),
                       "PATH=/usr/bin:/bin",
                       "QB_TELEMETRY_DIR=" + (scratch / "telx").string(),
                       "QB_URL_QUILLBECK_DOT_COM=" + server.baseUrl(),
                       "QB_HTTPCLIENT_STALL_SECONDS=1",
                       "QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES=" + (scratch / "sources").string()};
    }

    // Standard output goes to a pseudo-terminal of `columns` columns when given; `whileRunning`
    // runs once the program has started.
    Finished tripwire(std::vector<std::string> arguments, int columns = 0,
                      const std::function<void(pid_t)>& whileRunning = {}) {
        arguments.insert(arguments.begin(),
                         std::string(std::getenv("TRIPWIRE_STAGE_DIR")) + "/bin/tripwire");
        const stdfs::path out = scratch / "out";
        const stdfs::path err = scratch / "err";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        const int terminal = columns > 0 ? ::posix_openpt(O_RDWR | O_NOCTTY) : -1;
        if (terminal >= 0) {
            ::grantpt(terminal);
            ::unlockpt(terminal);
            termios raw{};
            ::tcgetattr(terminal, &raw);
            ::cfmakeraw(&raw);
            ::tcsetattr(terminal, TCSANOW, &raw);
            const winsize size{24, static_cast<unsigned short>(columns), 0, 0};
            ::ioctl(terminal, TIOCSWINSZ, &size);
            posix_spawn_file_actions_addopen(&actions, 1, ::ptsname(terminal), O_RDWR | O_NOCTTY,
                                             0);
        } else {
            posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                             0600);
        }
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        std::vector<char*> args;
        std::vector<char*> env;
        for (auto& argument : arguments) {
            args.push_back(argument.data());
        }
        for (auto& entry : environment) {
            env.push_back(entry.data());
        }
        args.push_back(nullptr);
        env.push_back(nullptr);
        pid_t pid = -1;
        EXPECT_EQ(::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        if (whileRunning) {
            whileRunning(pid);
        }
        std::string shown;
        char buffer[4096];
        for (ssize_t n = 0; terminal >= 0 && (n = ::read(terminal, buffer, sizeof buffer)) != 0;) {
            if (n > 0) {
                shown.append(buffer, static_cast<std::size_t>(n));
            } else if (errno != EINTR) {
                break; // EIO: the program closed the terminal
            }
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (terminal >= 0) {
            ::close(terminal);
        }
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
                terminal >= 0 ? shown : readFile(out), readFile(err)};
    }

    void offer(const std::string& query, const std::string& sha256) {
        server.setLatestDocument(tripwire::testsupport::latestDocument(
            "2024.7.0.6", server.fileUrl("kci.zip", query), sha256));
    }
    void localInstaller(const std::string& script) {
        tripwire::testsupport::writeScriptKciArchive(scratch / "sources" / "kci_9.9.9.9.zip",
                                                     "9.9.9.9", script);
    }
    void describeInstallation(const std::string& launcher) {
        const stdfs::path root = scratch / "data" / "Quillbeck" / "Drive";
        stdfs::create_directories(root);
        std::ofstream(root / "LatestInstall.info")
            << "LatestDSInstallerVersion 1.0.0.0\nLatestDSInstallRoot \"" << scratch.path().string()
            << "\"\nDSLauncherExecutable \"" << launcher << "\"\n";
    }

    TempDirectory scratch;
    LoopbackServer server;
    std::string archive;
    std::vector<std::string> environment;
};

// Each failure: how it is brought about, the command, the exit status and the start of the one
// line on standard error.
TEST_F(CommandLine, EveryFailureExplainsItselfInOneLine) {
    struct Case {
        std::string name;
        std::function<void()> setUp;
        std::vector<std::string> arguments;
        int status;
        std::string line;
    };
    const std::string digest = tripwire::testsupport::sha256Hex(archive);
    const std::vector<Case> cases{
        {"wrong digest",
         [this] { offer("", std::string(64, '0')); },
         {"install"},
         1,
         "tripwire: install failed: download of " + server.fileUrl("kci.zip") +
             " failed: SHA-256 mismatch"},
        {"stalled download",
         [&] { offer("stall=100", digest); },
         {"install"},
         1,
         "tripwire: install failed: download of " + server.fileUrl("kci.zip", "stall=100") +
             " failed: stalled"},
        {"cut download",
         [&] { offer("cut=100", digest); },
         {"install"},
         1,
         "tripwire: install failed: download of " + server.fileUrl("kci.zip", "cut=100") +
             " failed: truncated"},
        {"not an archive",
         [&] { offer("", digest); },
         {"install"},
         1,
         "tripwire: install failed: "},
        {"installer exit code",
         [this] { localInstaller("exit 7\n"); },
         {"--mode", "drive", "install"},
         1,
         "tripwire: install failed: the installer exited with status 7\n"},
        {"lookup refused",
         [this] { server.setLatestDocument("gone", 404); },
         {"install"},
         3,
         "tripwire: error: latest-version check failed: HTTP status 404 from " +
             server.url("/tripwire/latest.json") + "\n"},
        {"nothing installed", [] {}, {"start"}, 1, "tripwire: start failed: no installation found"},
        {"launcher fails",
         [this] { describeInstallation("/bin/false"); },
         {"--mode", "drive", "start"},
         1,
         "tripwire: start failed: the launcher /bin/false exited with status 1\n"},
        {"mistyped command",
         [] {},
         {"instal"},
         2,
         "tripwire: unknown command 'instal' (did you mean 'install'?)\n"},
        {"no command", [] {}, {}, 2, "tripwire: a command is required: info, "},
        {"unwritable log",
         [] {},
         {"--log-file", "/nonexistent/x.log", "info"},
         2,
         "tripwire: --log-file: cannot open log file \"/nonexistent/x.log\""}};
    for (const Case& c : cases) {
        c.setUp();
        const Finished r = tripwire(c.arguments);
        EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.err;
        EXPECT_EQ(r.err.rfind(c.line, 0), 0u) << c.name << "\n" << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << "\n" << r.err;
        EXPECT_EQ(r.err.find("Dynamic exception type"), std::string::npos) << c.name;
        stdfs::remove_all(scratch / "sources" / "kci_9.9.9.9.zip");
    }
}

// The layout host/README.md promises, checked member by member.
void expectSchema(const nlohmann::json& object, int status, const std::string& context) {
    ASSERT_TRUE(object.is_object()) << context;
    std::set<std::string> keys;
    for (const auto& item : object.items()) {
        keys.insert(item.key());
    }
    EXPECT_EQ(object.at("schema"), 1) << context;
    EXPECT_TRUE(object.at("operation").is_string() || object.at("operation").is_null()) << context;
    EXPECT_TRUE(object.at("mode").is_string() || object.at("mode").is_null()) << context;
    EXPECT_TRUE(object.contains("result")) << context;
    const bool explained = status != 0 && (status != 1 || object.at("result").is_string());
    if (object.contains("error")) {
        const auto& error = object["error"];
        EXPECT_TRUE(std::set<std::string>({"failure", "error", "usage", "interrupted"})
                        .count(error.at("kind")))
            << context;
        EXPECT_FALSE(error.at("message").get<std::string>().empty()) << context;
        EXPECT_EQ(error.size(), 2u) << context;
    }
    EXPECT_EQ(object.contains("error"), explained && object.at("result") != "NOT_INSTALLED" &&
                                            object.at("result") != "OLDER_THAN_REQUIRED")
        << context;
    EXPECT_EQ(status == 2 || status == 3, object.at("result").is_null()) << context;
}

TEST_F(CommandLine, EveryCommandAnswersOneJsonObjectOfTheSchema) {
    const std::vector<std::pair<std::vector<std::string>, nlohmann::json::value_t>> runs{
        {{"info"}, nlohmann::json::value_t::object},
        {{"running"}, nlohmann::json::value_t::boolean},
        {{"check", "1.0.0.0"}, nlohmann::json::value_t::string},
        {{"start"}, nlohmann::json::value_t::string},
        {{"install"}, nlohmann::json::value_t::null},
        {{"ensure", "1.0.0.0"}, nlohmann::json::value_t::null},
        {{"status"}, nlohmann::json::value_t::object},
        {{"stop"}, nlohmann::json::value_t::object},
        {{"watch"}, nlohmann::json::value_t::string},
        {{"instal"}, nlohmann::json::value_t::null},
        {{"check", "1.0"}, nlohmann::json::value_t::null},
        {{"--mode", "sideways", "status"}, nlohmann::json::value_t::null},
        {{}, nlohmann::json::value_t::null}};
    for (auto [arguments, resultType] : runs) {
        arguments.insert(arguments.begin(), "--json");
        const Finished r = tripwire(arguments);
        const std::string context = arguments.size() > 1 ? arguments[1] : "(none)";
        ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << context << r.out;
        const auto object = nlohmann::json::parse(r.out, nullptr, false);
        expectSchema(object, r.status, context);
        EXPECT_EQ(object.at("result").type(), resultType) << context << r.out;
    }
    const auto status = nlohmann::json::parse(tripwire({"--json", "status"}).out).at("result");
    for (const char* member : {"running", "agents", "installation", "storageRoot", "lockRoot",
                               "lastInstall", "storageRootOverridden", "lockRootOverridden"}) {
        EXPECT_TRUE(status.contains(member)) << member;
    }
}

TEST_F(CommandLine, HelpListsCommonOptionsPlaceholdersExitCodesAndTheEnvironment) {
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"help"},
                                                      {"help", "install"},
                                                      {"check", "--help"},
                                                      {"stop", "--help"}}) {
        const Finished r = tripwire(arguments);
        EXPECT_EQ(r.status, 0) << arguments.back() << r.err;
        for (const char* part : {"--mode MODE", "--log-mask MASK", "--first-folder-override DIR",
                                 "130  interrupted by SIGINT", "QB_URL_QUILLBECK_DOT_COM"}) {
            EXPECT_NE(r.out.find(part), std::string::npos) << arguments.back() << ": " << part;
        }
    }
    EXPECT_NE(tripwire({"help", "install"}).out.find("--installation-root DIR"), std::string::npos);
    EXPECT_NE(tripwire({"help", "check"}).out.find("VERSION"), std::string::npos);
    EXPECT_NE(tripwire({"help", "stop"}).out.find("--grace SECONDS"), std::string::npos);
}

// A start that waits shows the seconds on the terminal, redrawn in place and never wider than
// the terminal, and clears the line before the result, at any width.
TEST_F(CommandLine, AWaitingStartShowsTheSecondsAndClearsTheLineAtEveryWidth) {
    describeInstallation("/bin/sleep"); // runs, and never registers an agent
    const std::string storage = "data/Quillbeck/RodudedOzovizaz";
    stdfs::create_directories(scratch / storage);
    stdfs::copy_file(scratch / "data/Quillbeck/Drive/LatestInstall.info",
                     scratch / storage / "LatestInstall.info");
    for (const int columns : {80, 12}) {
        const Finished r = tripwire({"start"}, columns, [](pid_t pid) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            ::kill(pid, SIGINT);
        });
        EXPECT_EQ(r.status, 130) << r.err;
        const std::string second = std::string("waiting for the service host: 1 s")
                                       .substr(0, static_cast<std::size_t>(columns) - 1);
        EXPECT_NE(r.out.find("\r" + second), std::string::npos) << columns << ": " << r.out;
        const auto result = r.out.rfind("\rFAILED_TO_START\n");
        ASSERT_NE(result, std::string::npos) << r.out;
        EXPECT_EQ(result + 17, r.out.size()) << r.out;
        // Until the result, nothing between two returns wider than the terminal less one column.
        for (std::size_t at = 0, next = 0; next < result; at = next + 1) {
            next = r.out.find('\r', at);
            EXPECT_LT(next - at, static_cast<std::size_t>(columns)) << r.out;
        }
        EXPECT_EQ(r.err, "tripwire: interrupted (SIGINT)\n");
    }
}

} // namespace
