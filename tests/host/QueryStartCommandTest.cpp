// `tripwire running`, `check` and `start` run as a user runs them, each test in a temporary
// XDG_DATA_HOME with the staged sample service host; every service host started is stopped.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace stdfs = std::filesystem;
using namespace std::chrono_literals;

std::string stageDir() {
    const char* dir = std::getenv("TRIPWIRE_STAGE_DIR");
    if (dir == nullptr || *dir == '\0') {
        throw std::runtime_error("TRIPWIRE_STAGE_DIR is not set");
    }
    return dir;
}

std::string readFile(const stdfs::path& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

// A program started with the test's environment, standard output and error going to files.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
          const stdfs::path& outputStem)
        : outFile(outputStem.string() + ".out"), errFile(outputStem.string() + ".err") {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        std::vector<char*> args;
        for (const auto& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        std::vector<char*> env;
        for (const auto& entry : environment) {
            env.push_back(const_cast<char*>(entry.c_str()));
        }
        env.push_back(nullptr);
        const int error = posix_spawn(&id, args[0], &actions, nullptr, args.data(), env.data());
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            throw std::runtime_error("cannot start " + argv[0]);
        }
    }
    ~Child() {
        if (!reaped) {
            ::kill(id, SIGKILL);
            finish();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return id; }
    void signal(int number) const { ::kill(id, number); }

    Finished finish() {
        int status = 0;
        ::waitpid(id, &status, 0);
        reaped = true;
        Finished result;
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = readFile(outFile);
        result.err = readFile(errFile);
        return result;
    }

private:
    stdfs::path outFile;
    stdfs::path errFile;
    pid_t id = -1;
    bool reaped = false;
};

class QueryStartCommands : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tripwire-host-query-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        scratch = pattern;
        data = scratch / "data";
        environment = {"HOME=" + scratch.string(), "XDG_DATA_HOME=" + data.string(),
                       "PATH=/usr/bin:/bin", "QB_TELEMETRY_DIR=" + (scratch / "telx").string()};
    }
    void TearDown() override {
        for (pid_t pid : toStop) {
            stopAndWait(pid);
        }
        stdfs::remove_all(scratch);
    }

    std::unique_ptr<Child> launch(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), stageDir() + "/bin/tripwire");
        return std::make_unique<Child>(arguments, environment,
                                       scratch / ("run" + std::to_string(++runs)));
    }
    Finished tripwire(std::vector<std::string> arguments) {
        return launch(std::move(arguments))->finish();
    }

    stdfs::path storageRoot() const { return data / "Quillbeck" / "RodudedOzovizaz"; }
    stdfs::path sampleHost() const {
        return stageDir() + "/libexec/tripwire/sample/QuillbeckServiceHost";
    }

    void describeInstallation(const stdfs::path& directory, const stdfs::path& launcher,
                              const std::string& version = "2024.7.0.6") const {
        stdfs::create_directories(directory);
        std::ofstream(directory / "LatestInstall.info")
            << "LatestDSInstallerVersion " << version << "\nLatestDSInstallRoot \""
            << launcher.parent_path().string() << "\"\nDSLauncherExecutable \"" << launcher.string()
            << "\"\n";
    }

    // The pid the service host wrote into its lock file under `lockRoot`.
    std::optional<pid_t> serviceHostPid(const stdfs::path& lockRoot) const {
        std::ifstream in(lockRoot / "RodudedOzovizazServiceHost.lock");
        long pid = 0;
        if (in >> pid && pid > 0) {
            return static_cast<pid_t>(pid);
        }
        return std::nullopt;
    }

    static bool alive(pid_t pid) {
        // A zombie counts as gone: its parent may not have reaped it yet.
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string pidText, name, state;
        return (stat >> pidText >> name >> state) && state != "Z";
    }
    static void stopAndWait(pid_t pid) {
        ::kill(pid, SIGTERM);
        for (int i = 0; i < 300 && alive(pid); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        if (alive(pid)) {
            ::kill(pid, SIGKILL);
        }
    }

    stdfs::path scratch;
    stdfs::path data;
    std::vector<std::string> environment;
    std::vector<pid_t> toStop;
    int runs = 0;
};

TEST_F(QueryStartCommands, RunningFollowsARealServiceHost) {
    Finished before = tripwire({"running"});
    EXPECT_EQ(before.out, "false\n");
    EXPECT_EQ(before.status, 1) << before.err;

    Child host({sampleHost().string()}, environment, scratch / "host");
    const stdfs::path lockRoot = storageRoot() / "locks";
    for (int i = 0; i < 300 && !serviceHostPid(lockRoot); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    Finished during = tripwire({"running"});
    EXPECT_EQ(during.out, "true\n");
    EXPECT_EQ(during.status, 0) << during.err;

    // Killed without a chance to clean up: the lock file stays, but nobody holds it.
    host.signal(SIGKILL);
    host.finish();
    Finished after = tripwire({"running"});
    EXPECT_EQ(after.out, "false\n");
    EXPECT_EQ(after.status, 1) << after.err;
}

TEST_F(QueryStartCommands, CheckReportsNotInstalledUntilTheDescriptionExists) {
    Finished none = tripwire({"check", "1.0.0.0"});
    EXPECT_EQ(none.out, "NOT_INSTALLED\n");
    EXPECT_EQ(none.status, 1);

    describeInstallation(storageRoot(), sampleHost());
    Finished installed = tripwire({"check", "1.0.0.0"});
    EXPECT_EQ(installed.out, "INSTALLED\n");
    EXPECT_EQ(installed.status, 0) << installed.err;

    Finished older = tripwire({"--json", "check", "2024.7.0.7"});
    EXPECT_EQ(older.out, "{\"schema\":1,\"operation\":\"check\",\"mode\":\"STANDARD\",\"result\":"
                         "\"OLDER_THAN_REQUIRED\"}\n");
    EXPECT_EQ(older.status, 1);

    // Drive mode looks elsewhere.
    EXPECT_EQ(tripwire({"check", "1.0.0.0", "--mode", "drive"}).out, "NOT_INSTALLED\n");
}

TEST_F(QueryStartCommands, MalformedVersionsAreUsageErrors) {
    for (const char* version : {"1.0.0", "1.0.0.0.0", "1.0.x.0", "1..0.0", "-1.0.0.0", "+1.0.0.0",
                                " 1.0.0.0", "4294967296.0.0.0", "1.0.0.0 "}) {
        Finished r = tripwire({"check", version});
        EXPECT_EQ(r.status, 2) << version << ": " << r.out << r.err;
        EXPECT_TRUE(r.out.empty()) << version;
    }
    EXPECT_EQ(tripwire({"check"}).status, 2);
    EXPECT_EQ(tripwire({"check", "4294967295.0.0.0"}).status, 1);
}

TEST_F(QueryStartCommands, FolderOverridesReachTheModule) {
    const stdfs::path moved = scratch / "moved";
    describeInstallation(moved, sampleHost());
    EXPECT_EQ(tripwire({"check", "1.0.0.0"}).out, "NOT_INSTALLED\n");
    EXPECT_EQ(tripwire({"--first-folder-override", moved.string(), "check", "1.0.0.0"}).out,
              "INSTALLED\n");

    const stdfs::path locks = scratch / "locks";
    Child host({sampleHost().string(), "--lock-root", locks.string()}, environment,
               scratch / "host");
    for (int i = 0; i < 300 && !serviceHostPid(locks); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(tripwire({"running"}).out, "false\n");
    EXPECT_EQ(tripwire({"running", "--second-folder-override", locks.string()}).out, "true\n");
    host.signal(SIGTERM);
    host.finish();
}

TEST_F(QueryStartCommands, StartWithoutInstallationStartsNothing) {
    Finished r = tripwire({"start"});
    EXPECT_EQ(r.out, "INSTALL_FAILED\n");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_FALSE(stdfs::exists(storageRoot() / "locks"));
}

TEST_F(QueryStartCommands, StartLaunchesTheInstalledServiceHost) {
    describeInstallation(storageRoot(), sampleHost());
    Finished r = tripwire({"start"});
    const auto pid = serviceHostPid(storageRoot() / "locks");
    if (pid) {
        toStop.push_back(*pid);
    }
    EXPECT_EQ(r.out, "INSTALLED_AND_STARTED\n");
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(pid.has_value());
    // The service host outlives the program that started it.
    EXPECT_EQ(tripwire({"running"}).out, "true\n");
}

class StopSignal : public QueryStartCommands, public ::testing::WithParamInterface<int> {};

TEST_P(StopSignal, EndsAWaitingStartAtOnce) {
    // A launcher that never registers an agent, so the start waits for one.
    const stdfs::path launcher = scratch / "launcher";
    const stdfs::path pidFile = scratch / "launcher.pid";
    std::ofstream(launcher) << "#!/bin/sh\necho $$ > '" << pidFile.string() << ".tmp'\nmv '"
                            << pidFile.string() << ".tmp' '" << pidFile.string()
                            << "'\nexec sleep 60\n";
    stdfs::permissions(launcher, stdfs::perms::owner_all);
    describeInstallation(storageRoot(), launcher);

    auto program = launch({"start"});
    for (int i = 0; i < 500 && !stdfs::exists(pidFile); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(stdfs::exists(pidFile));
    toStop.push_back(static_cast<pid_t>(std::stol(readFile(pidFile))));
    std::this_thread::sleep_for(200ms);

    const auto signalled = std::chrono::steady_clock::now();
    program->signal(GetParam());
    Finished r = program->finish();
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 10s);
    EXPECT_EQ(r.out, "FAILED_TO_START\n");
    EXPECT_EQ(r.status, 128 + GetParam()) << r.err;
}

INSTANTIATE_TEST_SUITE_P(QueryStartCommands, StopSignal, ::testing::Values(SIGINT, SIGTERM));

} // namespace
