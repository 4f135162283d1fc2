// An upgrade of the sample installation through `tripwire install`: the installer stops the
// service host that runs, so the module starts the new version instead of finding the old one.
#include <tripwire/testsupport/KciArchive.h>
#include <tripwire/testsupport/ModuleHome.h>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using namespace tripwire::testsupport;

TEST(SampleUpgrade, TheRunningServiceHostIsTheNewVersion) {
    ModuleHome home;
    const std::string installer = "bin/QuillbeckServiceHostInstaller",
                      host = "bin/QuillbeckServiceHost";
    pid_t before = 0;
    for (const std::string version : {"1.0.0.1", "1.0.0.2"}) {
        fs::remove_all(home.sources());
        fs::create_directories(home.sources());
        writeKciArchive(home.sources() / ("kci_" + version + ".zip"), version, installer,
                        {{installer, readFile(staged::sample(installer.substr(4))), true},
                         {host, readFile(staged::sample(host.substr(4))), true}});
        const ProgramRun run = runProgram({(staged::root() / "bin/tripwire").string(), "install"});
        ASSERT_EQ(run.status, 0) << version << run.err;
        const pid_t pid =
            std::atoi(readFile(home.lockRoot() / "RodudedOzovizazServiceHost.lock").c_str());
        std::error_code gone;
        const fs::path executable = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", gone);
        EXPECT_NE(executable.string().find("/v" + version + "/"), std::string::npos)
            << version << ": " << executable;
        if (before != 0) {
            EXPECT_NE(pid, before);
            EXPECT_FALSE(isRunning(before)) << "the old service host still runs";
        }
        before = pid;
    }
}

} // namespace
