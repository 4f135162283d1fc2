// An upgrade of the sample installation through `tripwire install`: the installer stops the
// service host that runs, so the module starts the new version instead of finding the old one.
#include <tripwire/InstallLayout.h>
#include <tripwire/testsupport/KciArchive.h>
#include <tripwire/testsupport/TempDirectory.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

namespace stdfs = std::filesystem;
using tripwire::testsupport::ArchiveEntry;
using tripwire::testsupport::readFile;

TEST(SampleUpgrade, TheRunningServiceHostIsTheNewVersion) {
    const std::string stage = std::getenv("TRIPWIRE_STAGE_DIR");
    const tripwire::testsupport::TempDirectory scratch;
    const stdfs::path sample = stdfs::path(stage) / tripwire::layout::sampleDirectory;
    const stdfs::path sources = scratch / "sources";
    const stdfs::path lockFile =
        scratch / "data/Quillbeck/RodudedOzovizaz/locks/RodudedOzovizazServiceHost.lock";
    const std::string environment =
        "env -i HOME='" + scratch.path().string() + "' XDG_DATA_HOME='" +
        (scratch / "data").string() + "' QB_TELEMETRY_DIR='" + (scratch / "telx").string() +
        "' QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES='" + sources.string() + "' ";
    const auto runningExecutable = [&] {
        std::ifstream in(lockFile);
        pid_t pid = 0;
        in >> pid;
        std::error_code error;
        return std::make_pair(pid,
                              stdfs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error));
    };

    std::pair<pid_t, stdfs::path> before;
    for (const std::string version : {"1.0.0.1", "1.0.0.2"}) {
        stdfs::remove_all(sources);
        stdfs::create_directories(sources);
        tripwire::testsupport::writeKciArchive(
            sources / ("kci_" + version + ".zip"), version, "bin/QuillbeckServiceHostInstaller",
            {ArchiveEntry{"bin/QuillbeckServiceHostInstaller",
                          readFile(sample / "QuillbeckServiceHostInstaller"), true},
             ArchiveEntry{"bin/QuillbeckServiceHost", readFile(sample / "QuillbeckServiceHost"),
                          true}});
        const std::string command = environment + stage + "/bin/tripwire install >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << version;
        const auto running = runningExecutable();
        EXPECT_NE(running.second.string().find("/v" + version + "/"), std::string::npos)
            << version << ": " << running.second;
        if (before.first != 0) {
            EXPECT_NE(running.first, before.first);
            // Gone, or a zombie that nobody has reaped yet.
            std::ifstream stat("/proc/" + std::to_string(before.first) + "/stat");
            std::string pid, name, state = "Z";
            stat >> pid >> name >> state;
            EXPECT_EQ(state, "Z") << "the old service host still runs";
        }
        before = running;
    }
    std::system((environment + stage + "/bin/tripwire stop >/dev/null").c_str());
}

} // namespace
