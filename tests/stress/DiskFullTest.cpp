// The download location on a small tmpfs: an attempt that fills it fails with INSTALL_FAILED,
// its event says why, and it leaves nothing there. The mount needs a mount namespace of the
// test's own, so each case reruns itself under `unshare --mount` where that is permitted.
#include "StressSupport.h"

#include <foundation/core/process/command.h>
#include <foundation/core/process/context.h>
#include <foundation/core/process/process.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <unistd.h>

namespace tripwire_stress {
namespace {

using namespace halvexconnector::tripwire;
namespace fcp = foundation::core::process;

constexpr const char* insideVariable = "TRIPWIRE_STRESS_PRIVATE_MOUNTS";
constexpr const char* skipReasonVariable = "TRIPWIRE_STRESS_SKIP_REASON_FILE";
constexpr std::size_t tmpfsBytes = 1024 * 1024;

bool insidePrivateMounts() {
    return std::getenv(insideVariable) != nullptr;
}

std::string ownExecutable() {
    return fs::read_symlink("/proc/self/exe").string();
}

std::string currentTestFilter() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

std::string readText(const fs::path& file) {
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The outer run: reruns the current test in a private mount namespace and takes over its
// verdict. A skip inside is passed out through a file, since gtest exits 0 for both.
void rerunInPrivateMounts() {
    const std::string unshare = "/usr/bin/unshare";
    if (!fs::exists(unshare)) {
        GTEST_SKIP() << "needs unshare(1) from util-linux to mount a tmpfs privately";
    }
    if (fcp::process(fcp::command(unshare, {"--mount", "--propagation", "private", "true"}), {})
            .exit_status() != 0) {
        GTEST_SKIP() << "cannot create a mount namespace here (unshare --mount needs "
                        "CAP_SYS_ADMIN, e.g. root or a privileged container)";
    }
    tripwire::testsupport::TempDirectory scratch;
    const fs::path skipReason = scratch / "skip-reason";
    fcp::context inside;
    inside.environment()[insideVariable] = "1";
    inside.environment()[skipReasonVariable] = skipReason.string();
    const std::uint32_t code =
        fcp::process(fcp::command(unshare, {"--mount", "--propagation", "private", ownExecutable(),
                                            "--gtest_filter=" + currentTestFilter()}),
                     inside)
            .exit_status();
    if (fs::exists(skipReason)) {
        GTEST_SKIP() << readText(skipReason);
    }
    EXPECT_EQ(code, 0u) << "the run in the private mount namespace failed (its output is above)";
}

// A tmpfs of tmpfsBytes, mounted for the object's life.
class SmallTmpfs {
public:
    explicit SmallTmpfs(const fs::path& mountPoint) : point(mountPoint) {
        fs::create_directories(point);
        const std::string options = "size=" + std::to_string(tmpfsBytes) + ",mode=0700";
        if (::mount("tmpfs", point.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
            failure = std::string("mounting a tmpfs failed: ") + std::strerror(errno);
        }
    }
    ~SmallTmpfs() {
        if (failure.empty()) {
            ::umount2(point.c_str(), MNT_DETACH);
        }
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    const std::string& mountFailure() const { return failure; }
    const fs::path& path() const { return point; }

private:
    fs::path point;
    std::string failure;
};

std::vector<fs::path> entriesOf(const fs::path& directory) {
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(directory)) {
        entries.push_back(entry.path());
    }
    return entries;
}

class DiskFull : public ::testing::Test {
protected:
    // Runs one drive-mode install of `archive` with the download location on the tmpfs; the
    // event it sent, or null when the test cannot run here.
    nlohmann::ordered_json installInto(const std::string& archive) {
        SmallTmpfs tmpfs(home.root() / "small");
        if (!tmpfs.mountFailure().empty()) {
            std::ofstream(std::getenv(skipReasonVariable)) << tmpfs.mountFailure();
            return nullptr;
        }
        tripwire::testsupport::ScopedVariable location("QB_RODUDED_OZOVIZAZ_DOWNLOAD_LOCATION",
                                                       tmpfs.path().string());
        home.offer(archive);
        InstallConnectorResult result = INSTALLED_AND_STARTED;
        {
            BundleHost host;
            std::shared_ptr<ITripwire> tripwire = host.tripwire();
            EXPECT_TRUE(tripwire);
            if (tripwire) {
                result = tripwire->installAndStartHALVEXServices(DRIVE, "diskfull", boost::none,
                                                                 boost::none);
            }
        }
        EXPECT_EQ(result, INSTALL_FAILED);
        EXPECT_EQ(entriesOf(tmpfs.path()), std::vector<fs::path>()) << "nothing left on the tmpfs";
        EXPECT_EQ(home.leftoverWorkingDirectories(), std::vector<fs::path>());
        const auto events = home.installEvents();
        EXPECT_EQ(events.size(), 1u);
        return events.empty() ? nlohmann::ordered_json() : events.back();
    }

    StressHome home;
};

TEST_F(DiskFull, ADownloadLargerThanTheFreeSpaceFailsAndLeavesNothing) {
    if (!insidePrivateMounts()) {
        rerunInPrivateMounts();
        return;
    }
    const auto event = installInto(kciArchiveWithInstaller("exit 0", 2 * tmpfsBytes));
    if (event.is_null()) {
        return; // the reason is on its way to the outer run
    }
    EXPECT_EQ(event.value("installResult", ""), "INSTALL_FAILED");
    EXPECT_NE(event.value("downloadErrorMessage", "").find(std::strerror(ENOSPC)),
              std::string::npos)
        << event.dump();
    EXPECT_EQ(event.value("installerReturnCode", "?"), "");
}

TEST_F(DiskFull, AnExtractionLargerThanTheFreeSpaceFailsAndLeavesNothing) {
    if (!insidePrivateMounts()) {
        rerunInPrivateMounts();
        return;
    }
    // The archive fits, the archive and its content together do not (packing cannot shrink
    // random bytes, and the extractor refuses archives that unpack to a thousand times more).
    const auto event = installInto(kciArchiveWithInstaller("exit 0", tmpfsBytes * 7 / 10));
    if (event.is_null()) {
        return;
    }
    EXPECT_EQ(event.value("installResult", ""), "INSTALL_FAILED");
    EXPECT_EQ(event.value("downloadErrorMessage", "?"), "");
    EXPECT_NE(event.value("extractDownloadErrorMessage", "").find(std::strerror(ENOSPC)),
              std::string::npos)
        << event.dump();
    EXPECT_EQ(event.value("installerReturnCode", "?"), "");
}

} // namespace
} // namespace tripwire_stress
