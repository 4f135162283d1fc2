// The staged program as a user meets it: the one line on standard error that explains a failure,
// the exit status, the JSON object of every command, the help, the terminal, and stop and watch
// against real service hosts.
#include <agent/control/AgentRegistration.h>
#include <tripwire/testsupport/KciArchive.h>
#include <tripwire/testsupport/ModuleHome.h>

#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>

namespace {

namespace stdfs = std::filesystem;
using namespace tripwire::testsupport;
using testing::HasSubstr;
using testing::StartsWith;

class CommandLine : public ::testing::Test {
protected:
    CommandLine() {
        home.set("QB_LOG_MASK", std::nullopt);
        home.set("QB_LOG_FILE", std::nullopt);
        home.set("QB_HTTPCLIENT_STALL_SECONDS", "1");
        home.server().addFile("kci.zip", archive);
    }

    stdfs::path lockFile() const { return home.lockRoot() / "RodudedOzovizazServiceHost.lock"; }

    // Runs the staged program; standard output goes to a pseudo-terminal of `columns` columns
    // when given. `whileRunning` runs once the program has started.
    ProgramRun tripwire(
        std::vector<std::string> arguments, unsigned short columns = 0,
        const std::function<void(RunningProgram&)>& whileRunning = [](RunningProgram&) {}) {
        arguments.insert(arguments.begin(), (staged::root() / "bin/tripwire").string());
        if (columns > 0) {
            return runOnTerminal(arguments, columns, {}, whileRunning);
        }
        RunningProgram program(arguments);
        whileRunning(program);
        return program.finish();
    }

    // The pid in the service host's lock file once it is alive and not `other`; 0 when none.
    pid_t agentPid(pid_t other = 0) {
        pid_t pid = 0;
        const bool found = eventually([&] {
            pid = std::atoi(readFile(lockFile()).c_str());
            return pid > 0 && pid != other && isRunning(pid);
        });
        return found ? pid : 0;
    }

    void offer(const std::string& query, const std::string& sha256) {
        home.server().setLatestDocument(
            latestDocument("2024.7.0.6", home.server().fileUrl("kci.zip", query), sha256));
    }

    ModuleHome home;
    const std::string archive = std::string(64 * 1024, 'x');
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
    const std::string digest = sha256Hex(archive);
    const std::string download =
        "tripwire: install failed: download of " + home.server().fileUrl("kci.zip");
    // clang-format off
    const std::vector<Case> cases{
        {[&] { offer("", std::string(64, '0')); }, {"install"}, 1, download + " failed: SHA-256 mismatch"},
        {[&] { offer("stall=100", digest); }, {"install"}, 1, download + "?stall=100 failed: stalled"},
        {[&] { offer("cut=100", digest); }, {"install"}, 1, download + "?cut=100 failed: truncated"},
        {[&] { offer("", digest); }, {"install"}, 1, "tripwire: install failed: "},
        {[&] { writeScriptKciArchive(home.sources() / "kci_9.9.9.9.zip", "9.9.9.9", "exit 7\n"); },
         {"--mode", "drive", "install"}, 1, "tripwire: install failed: the installer exited with status 7\n"},
        {[&] { offer("", digest); home.server().setLatestSignature("forged"); }, {"install"}, 1,
         "tripwire: install failed: latest-version check failed: refused the document " +
             home.server().url("/tripwire/latest.json") + ": the signature is not a minisign"},
        {[&] { home.server().setLatestDocument("gone", 404); }, {"install"}, 3,
         "tripwire: error: latest-version check failed: HTTP status 404 from " +
             home.server().url("/tripwire/latest.json") + "\n"},
        {[] {}, {"start"}, 1, "tripwire: start failed: no installation found"},
        {[&] { describeInstallation(home.driveRoot(), "1.0.0.0", "/bin/false"); },
         {"--mode", "drive", "start"}, 1,
         "tripwire: start failed: the launcher /bin/false exited with status 1\n"},
        {[] {}, {"instal"}, 2, "tripwire: unknown command 'instal' (did you mean 'install'?)\n"},
        {[] {}, {}, 2, "tripwire: a command is required: info, "},
        {[] {}, {"--log-file", "/nonexistent/x.log", "info"}, 2,
         "tripwire: --log-file: cannot open log file \"/nonexistent/x.log\""}};
    // clang-format on
    for (const Case& c : cases) {
        c.setUp();
        const ProgramRun r = tripwire(c.arguments);
        EXPECT_EQ(r.status, c.status) << c.line << "\n" << r.err;
        EXPECT_THAT(r.err, StartsWith(c.line));
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.line << "\n" << r.err;
        EXPECT_EQ(r.err.find("Dynamic exception type"), std::string::npos) << c.line;
        stdfs::remove_all(home.sources() / "kci_9.9.9.9.zip");
    }
}

// The layout host/README.md promises, checked member by member.
void expectSchema(const nlohmann::json& object, int status, const std::string& context) {
    ASSERT_TRUE(object.is_object()) << context;
    EXPECT_EQ(object.at("schema"), 1) << context;
    EXPECT_TRUE(object.at("operation").is_string() || object.at("operation").is_null()) << context;
    EXPECT_TRUE(object.at("mode").is_string() || object.at("mode").is_null()) << context;
    EXPECT_TRUE(object.contains("result")) << context;
    const bool explained = status != 0 && (status != 1 || object.at("result").is_string());
    if (object.contains("error")) {
        const auto& error = object["error"];
        EXPECT_THAT(error.at("kind").get<std::string>(),
                    testing::AnyOf("failure", "error", "usage", "interrupted"))
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
    // Each way to ask, with what only that command's help shows.
    // clang-format off
    const std::vector<std::pair<std::vector<std::string>, const char*>> helps{
        {{"help"}, ""}, {{"help", "install"}, "--installation-root DIR"},
        {{"check", "--help"}, ""}, {{"help", "check"}, "VERSION"},
        {{"stop", "--help"}, ""}, {{"help", "stop"}, "--grace SECONDS"}};
    // clang-format on
    for (const auto& [arguments, own] : helps) {
        const ProgramRun r = tripwire(arguments);
        EXPECT_EQ(r.status, 0) << arguments.back() << r.err;
        for (const char* part :
             {own, "--mode MODE", "--log-mask MASK", "--first-folder-override DIR",
              "130  interrupted by SIGINT", "QB_URL_QUILLBECK_DOT_COM"}) {
            EXPECT_THAT(r.out, HasSubstr(part)) << testing::PrintToString(arguments);
        }
    }
}

// A start that waits shows the seconds on the terminal, redrawn in place and never wider than
// the terminal, and clears the line before the result, at any width.
TEST_F(CommandLine, AWaitingStartShowsTheSecondsAndClearsTheLineAtEveryWidth) {
    describeInstallation(home.storageRoot(), "1.0.0.0", "/bin/sleep"); // never registers an agent
    for (const unsigned short columns : {80, 12}) {
        const ProgramRun r = tripwire({"start"}, columns, [](RunningProgram& program) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            ::kill(program.pid(), SIGINT);
        });
        EXPECT_EQ(r.status, 130) << r.err;
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
        EXPECT_EQ(r.err, "tripwire: interrupted (SIGINT)\n");
    }
}

TEST_F(CommandLine, EnsureTellsEachDecisionBeforeItActsOnIt) {
    describeInstallation(home.storageRoot(), "1.0.0.0", "/bin/sleep"); // a start that waits
    const ProgramRun r = tripwire({"ensure", "1.0.0.0"}, 0, [](RunningProgram& program) {
        EXPECT_EQ(program.firstLine(), "the service host is not running");
        ::kill(program.pid(), SIGINT);
    });
    EXPECT_EQ(r.status, 130) << r.err;
}

TEST_F(CommandLine, StopSignalsOnlyTheProcessThatHoldsTheLock) {
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
    RunningProgram host({staged::sample("QuillbeckServiceHost").string()});
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
TEST_F(CommandLine, WatchRestartsAKilledServiceHostAndGivesUpWithTheKeepAlive) {
    const std::string runs = (home / "runs").string();
    describeInstallation(
        home.storageRoot(), "1.0.0.0",
        writeScript(home / "launcher", "echo >> '" + runs + "'\n[ $(wc -l < '" + runs +
                                           "') -le 2 ] || exit 1\nexec '" +
                                           staged::sample("QuillbeckServiceHost").string() + "'"));
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

TEST_F(CommandLine, TheUserUnitPassesSystemdVerification) {
    const stdfs::path unit = staged::root() / "share/tripwire/tripwire.service";
    ASSERT_TRUE(stdfs::exists(unit));
    if (std::system("systemd-analyze --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no systemd-analyze here";
    }
    // The system manager's checks: a user manager needs a session this test may not have.
    EXPECT_EQ(std::system(("systemd-analyze verify '" + unit.string() + "'").c_str()), 0);
}

} // namespace
