// The staged program as a user meets it: the one line on standard error that explains a failure,
// the exit status, the JSON object of every command, the help, the terminal, and stop and watch
// against real service hosts.
#include <agent/control/AgentRegistration.h>
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
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace stdfs = std::filesystem;
using tripwire::testsupport::LoopbackServer;
using tripwire::testsupport::TempDirectory;
using namespace std::chrono_literals;

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readFile(const stdfs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string stageDir() {
    return std::getenv("TRIPWIRE_STAGE_DIR");
}

bool alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, name, state;
    return (stat >> pidText >> name >> state) && state != "Z";
}

class CommandLine : public ::testing::Test {
protected:
    CommandLine() {
        archive = std::string(64 * 1024, 'x');
        server.addFile("kci.zip", archive);
        stdfs::create_directories(scratch / "sources");
        environment = {"HOME=" + scratch.path().string(),
                       "XDG_DATA_HOME=" + data().string(),
                       "PATH=/usr/bin:/bin",
                       "QB_TELEMETRY_DIR=" + (scratch / "telx").string(),
                       "QB_URL_QUILLBECK_DOT_COM=" + server.baseUrl(),
                       "QB_HTTPCLIENT_STALL_SECONDS=1",
                       "QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES=" + (scratch / "sources").string()};
    }
    // A service host that a keep-alive started runs detached: end it through its lock.
    ~CommandLine() override { tripwire({"stop", "--grace", "1"}); }

    stdfs::path data() const { return scratch / "data"; }
    stdfs::path lockFile() const {
        return data() / "Quillbeck/RodudedOzovizaz/locks/RodudedOzovizazServiceHost.lock";
    }

    // Starts `arguments` (a program and its arguments) in the test's environment.
    pid_t launch(std::vector<std::string> arguments, const std::string& out,
                 const std::string& err) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_RDWR | O_CREAT | O_TRUNC,
                                         0600);
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
        return pid;
    }

    // Runs the staged program; standard output goes to a pseudo-terminal of `columns` columns
    // when given. `whileRunning` runs once the program has started.
    Finished tripwire(std::vector<std::string> arguments, int columns = 0,
                      const std::function<void(pid_t)>& whileRunning = {}) {
        arguments.insert(arguments.begin(), stageDir() + "/bin/tripwire");
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
        }
        const pid_t pid =
            launch(arguments, terminal >= 0 ? ::ptsname(terminal) : (scratch / "out").string(),
                   (scratch / "err").string());
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
        if (terminal >= 0) {
            ::close(terminal);
        }
        return {wait(pid), terminal >= 0 ? shown : readFile(scratch / "out"),
                readFile(scratch / "err")};
    }
    static int wait(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // The pid in the service host's lock file once it is alive and not `other`.
    std::optional<pid_t> agentPid(std::optional<pid_t> other = {}) {
        for (int i = 0; i < 500; ++i) {
            std::ifstream in(lockFile());
            pid_t pid = 0;
            if (in >> pid && pid > 0 && pid != other && alive(pid)) {
                return pid;
            }
            std::this_thread::sleep_for(10ms);
        }
        return std::nullopt;
    }

    void offer(const std::string& query, const std::string& sha256) {
        server.setLatestDocument(tripwire::testsupport::latestDocument(
            "2024.7.0.6", server.fileUrl("kci.zip", query), sha256));
    }
    void localInstaller(const std::string& script) {
        tripwire::testsupport::writeScriptKciArchive(scratch / "sources" / "kci_9.9.9.9.zip",
                                                     "9.9.9.9", script);
    }
    // LatestInstall.info of the mode's folder ("RodudedOzovizaz" or "Drive").
    void describeInstallation(const std::string& folder, const std::string& launcher) {
        const stdfs::path root = data() / "Quillbeck" / folder;
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
        std::function<void()> setUp;
        std::vector<std::string> arguments;
        int status;
        std::string line;
    };
    const std::string digest = tripwire::testsupport::sha256Hex(archive);
    const std::string download =
        "tripwire: install failed: download of " + server.fileUrl("kci.zip");
    // clang-format off
    const std::vector<Case> cases{
        {[&] { offer("", std::string(64, '0')); }, {"install"}, 1, download + " failed: SHA-256 mismatch"},
        {[&] { offer("stall=100", digest); }, {"install"}, 1, download + "?stall=100 failed: stalled"},
        {[&] { offer("cut=100", digest); }, {"install"}, 1, download + "?cut=100 failed: truncated"},
        {[&] { offer("", digest); }, {"install"}, 1, "tripwire: install failed: "},
        {[&] { localInstaller("exit 7\n"); }, {"--mode", "drive", "install"}, 1,
         "tripwire: install failed: the installer exited with status 7\n"},
        {[&] { server.setLatestDocument("gone", 404); }, {"install"}, 3,
         "tripwire: error: latest-version check failed: HTTP status 404 from " +
             server.url("/tripwire/latest.json") + "\n"},
        {[] {}, {"start"}, 1, "tripwire: start failed: no installation found"},
        {[&] { describeInstallation("Drive", "/bin/false"); }, {"--mode", "drive", "start"}, 1,
         "tripwire: start failed: the launcher /bin/false exited with status 1\n"},
        {[] {}, {"instal"}, 2, "tripwire: unknown command 'instal' (did you mean 'install'?)\n"},
        {[] {}, {}, 2, "tripwire: a command is required: info, "},
        {[] {}, {"--log-file", "/nonexistent/x.log", "info"}, 2,
         "tripwire: --log-file: cannot open log file \"/nonexistent/x.log\""}};
    // clang-format on
    for (const Case& c : cases) {
        c.setUp();
        const Finished r = tripwire(c.arguments);
        EXPECT_EQ(r.status, c.status) << c.line << "\n" << r.err;
        EXPECT_EQ(r.err.rfind(c.line, 0), 0u) << c.line << "\n" << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.line << "\n" << r.err;
        EXPECT_EQ(r.err.find("Dynamic exception type"), std::string::npos) << c.line;
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
    describeInstallation("RodudedOzovizaz", "/bin/sleep"); // never registers an agent
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

TEST_F(CommandLine, StopSignalsOnlyTheProcessThatHoldsTheLock) {
    // This test holds the lock; the file names a bystander, as after a crash and pid reuse.
    const pid_t bystander = launch({"/bin/sleep", "30"}, "/dev/null", "/dev/null");
    {
        agent::control::AgentRegistration held(lockFile().parent_path(),
                                               "RodudedOzovizazServiceHost");
        std::ofstream(lockFile()) << bystander << "\nRodudedOzovizazServiceHost\n";
        const Finished r = tripwire({"stop", "--grace", "0"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("still running"), std::string::npos) << r.err;
        EXPECT_TRUE(alive(bystander));
    }
    const std::string sample = stageDir() + "/libexec/tripwire/sample/QuillbeckServiceHost";
    const pid_t host = launch({sample}, "/dev/null", "/dev/null");
    ASSERT_EQ(agentPid(bystander), host);
    const Finished r = tripwire({"stop"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "stopped RodudedOzovizazServiceHost (pid " + std::to_string(host) + ")\n");
    EXPECT_EQ(wait(host), 0);
    EXPECT_TRUE(alive(bystander));
    ::kill(bystander, SIGKILL);
    wait(bystander);
}

// The launcher runs the service host twice, then fails at once: watch sees one restart after a
// SIGKILL, then gives up once the keep-alive's budget is spent.
TEST_F(CommandLine, WatchRestartsAKilledServiceHostAndGivesUpWithTheKeepAlive) {
    const std::string runs = (scratch / "runs").string();
    std::ofstream(scratch / "launcher") << "#!/bin/sh\necho >> '" << runs << "'\n[ $(wc -l < '"
                                        << runs << "') -le 2 ] || exit 1\nexec '" << stageDir()
                                        << "/libexec/tripwire/sample/QuillbeckServiceHost'\n";
    stdfs::permissions(scratch / "launcher", stdfs::perms::owner_all);
    describeInstallation("RodudedOzovizaz", (scratch / "launcher").string());
    // Each kill only once watch has told of the agent, so that its start is over.
    const auto told = [this](const std::string& line) {
        for (int i = 0; i < 1000 && readFile(scratch / "err").find(line) == std::string::npos;
             ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return readFile(scratch / "err").find(line) != std::string::npos;
    };
    const Finished r = tripwire({"watch", "--patience", "3"}, 0, [&](pid_t) {
        const auto first = agentPid();
        ASSERT_TRUE(first && told("watching RodudedOzovizazServiceHost"));
        ::kill(*first, SIGKILL);
        const auto second = agentPid(first);
        ASSERT_TRUE(second && told("started again: RodudedOzovizazServiceHost (pid " +
                                   std::to_string(*second) + ")"));
        ::kill(*second, SIGKILL);
    });
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("tripwire: watch failed: the service host keeps ending"),
              std::string::npos)
        << r.err;
}

TEST_F(CommandLine, TheUserUnitPassesSystemdVerification) {
    const stdfs::path unit = stageDir() + "/share/tripwire/tripwire.service";
    ASSERT_TRUE(stdfs::exists(unit));
    if (std::system("systemd-analyze --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no systemd-analyze here";
    }
    // The system manager's checks: a user manager needs a session this test may not have.
    EXPECT_EQ(std::system(("systemd-analyze verify '" + unit.string() + "'").c_str()), 0);
}

} // namespace
