// `tripwire stop` and `tripwire watch` against real service hosts, and the systemd unit.
#include <agent/control/AgentRegistration.h>
#include <tripwire/testsupport/TempDirectory.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace stdfs = std::filesystem;
using namespace std::chrono_literals;

std::string stageDir() {
    return std::getenv("TRIPWIRE_STAGE_DIR");
}

std::string readFile(const stdfs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, name, state;
    return (stat >> pidText >> name >> state) && state != "Z";
}

class ServiceHostControl : public ::testing::Test {
protected:
    ServiceHostControl() {
        environment = {"HOME=" + scratch.path().string(), "XDG_DATA_HOME=" + data().string(),
                       "PATH=/usr/bin:/bin", "QB_TELEMETRY_DIR=" + (scratch / "telx").string()};
    }
    ~ServiceHostControl() override {
        for (pid_t pid : started) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        // Whatever a keep-alive started runs detached: end it through its lock.
        spawn({stageDir() + "/bin/tripwire", "stop", "--grace", "1"});
        ::waitpid(started.back(), nullptr, 0);
    }

    stdfs::path data() const { return scratch / "data"; }
    stdfs::path lockFile() const {
        return data() / "Quillbeck/RodudedOzovizaz/locks/RodudedOzovizazServiceHost.lock";
    }

    pid_t spawn(std::vector<std::string> arguments) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        const std::string out = (scratch / "out").string();
        const std::string err = (scratch / "err").string();
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
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
        started.push_back(pid);
        return pid;
    }
    int wait(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        std::erase(started, pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // The pid in the service host's lock file once it differs from `other`.
    std::optional<pid_t> agentPid(std::optional<pid_t> other = {}, int tries = 500) {
        for (int i = 0; i < tries; ++i) {
            std::ifstream in(lockFile());
            pid_t pid = 0;
            if (in >> pid && pid > 0 && pid != other && alive(pid)) {
                return pid;
            }
            std::this_thread::sleep_for(10ms);
        }
        return std::nullopt;
    }

    tripwire::testsupport::TempDirectory scratch;
    std::vector<std::string> environment;
    std::vector<pid_t> started;
};

TEST_F(ServiceHostControl, StopSignalsOnlyTheProcessThatHoldsTheLock) {
    // This test holds the lock; the file names a bystander, as after a crash and pid reuse.
    const pid_t bystander = spawn({"/bin/sleep", "30"});
    {
        agent::control::AgentRegistration held(lockFile().parent_path(),
                                               "RodudedOzovizazServiceHost");
        std::ofstream(lockFile()) << bystander << "\nRodudedOzovizazServiceHost\n";
        EXPECT_EQ(wait(spawn({stageDir() + "/bin/tripwire", "stop", "--grace", "0"})), 1);
        EXPECT_NE(readFile(scratch / "err").find("still running"), std::string::npos);
        EXPECT_TRUE(alive(bystander));
    }

    const pid_t host = spawn({stageDir() + "/libexec/tripwire/sample/QuillbeckServiceHost"});
    ASSERT_EQ(agentPid(bystander), host);
    EXPECT_EQ(wait(spawn({stageDir() + "/bin/tripwire", "stop"})), 0);
    EXPECT_EQ(readFile(scratch / "out"),
              "stopped RodudedOzovizazServiceHost (pid " + std::to_string(host) + ")\n");
    EXPECT_EQ(wait(host), 0);
    EXPECT_TRUE(alive(bystander));
}

// The launcher runs the service host twice, then fails at once: watch sees one restart after a
// SIGKILL, then gives up once the keep-alive's budget is spent.
TEST_F(ServiceHostControl, WatchRestartsAKilledServiceHostAndGivesUpWithTheKeepAlive) {
    const stdfs::path storage = data() / "Quillbeck/RodudedOzovizaz";
    const stdfs::path launcher = scratch / "launcher";
    stdfs::create_directories(storage);
    std::ofstream(launcher) << "#!/bin/sh\necho >> '" << (scratch / "runs").string()
                            << "'\n[ $(wc -l < '" << (scratch / "runs").string()
                            << "') -le 2 ] || exit 1\nexec '" << stageDir()
                            << "/libexec/tripwire/sample/QuillbeckServiceHost'\n";
    stdfs::permissions(launcher, stdfs::perms::owner_all);
    std::ofstream(storage / "LatestInstall.info")
        << "LatestDSInstallerVersion 1.0.0.0\nLatestDSInstallRoot \"" << scratch.path().string()
        << "\"\nDSLauncherExecutable \"" << launcher.string() << "\"\n";

    const pid_t watch = spawn({stageDir() + "/bin/tripwire", "watch", "--patience", "3"});
    // Each kill only once watch has seen the agent, so its start is over.
    const auto seen = [this](const std::string& line) {
        for (int i = 0; i < 1000 && readFile(scratch / "err").find(line) == std::string::npos;
             ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return readFile(scratch / "err").find(line) != std::string::npos;
    };
    const auto first = agentPid();
    ASSERT_TRUE(first && seen("watching RodudedOzovizazServiceHost")) << readFile(scratch / "err");
    ::kill(*first, SIGKILL);
    const auto second = agentPid(first);
    ASSERT_TRUE(second && seen("started again: RodudedOzovizazServiceHost (pid " +
                               std::to_string(*second) + ")"))
        << readFile(scratch / "err");
    ::kill(*second, SIGKILL);
    EXPECT_EQ(wait(watch), 1);
    EXPECT_NE(
        readFile(scratch / "err").find("tripwire: watch failed: the service host keeps ending"),
        std::string::npos)
        << readFile(scratch / "err");
}

TEST_F(ServiceHostControl, TheUserUnitPassesSystemdVerification) {
    const stdfs::path unit = stageDir() + "/share/tripwire/tripwire.service";
    ASSERT_TRUE(stdfs::exists(unit));
    if (std::system("systemd-analyze --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no systemd-analyze here";
    }
    // The system manager's checks: a user manager needs a session this test may not have.
    EXPECT_EQ(std::system(("systemd-analyze verify '" + unit.string() + "'").c_str()), 0);
}

} // namespace
