// Another local user (or what they left behind) trying to change what an install attempt runs,
// to widen access to files through its clean-up, or to make it hang or leave trees behind.
#include "DeferredRemovals.h"
#include "download/DownloadLocation.h"
#include "download/WorkingDirectory.h"
#include "install/InstallerRun.h"
#include "install/LocalSources.h"

#include <fl/filesystem/operations.h>
#include <fl/filesystem/path_conversion.h>

#include <tripwire/testsupport/InOwnProcess.h>
#include <tripwire/testsupport/OtherUser.h>
#include <tripwire/testsupport/TempDirectory.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

namespace halvexconnector::tripwireimpl {
namespace {

namespace stdfs = std::filesystem;
using namespace tripwire::testsupport;

const uid_t self = ::geteuid();

void makeDirectory(const stdfs::path& path, mode_t mode, uid_t owner) {
    stdfs::create_directories(path);
    ::chmod(path.c_str(), mode);
    ::lchown(path.c_str(), owner, owner);
}

fl::filesystem::basic_path toPath(const stdfs::path& path) {
    return fl::filesystem::path_from_native(path);
}

class OtherUsers : public testing::Test {
protected:
    void SetUp() override {
        if (const std::string reason = otherUserUnavailable(); !reason.empty())
            GTEST_SKIP() << reason;
        ::chmod(home.path().c_str(), 0755); // the other user may look, as in /tmp
    }

    TempDirectory home;
    ScopedVariable dataHome{"XDG_DATA_HOME", (home / "data").string()};
};

TEST_F(OtherUsers, AWorkingDirectoryIsNeverOneTheyCanChange) {
    // Name, mode, owner, whether the other user made "v1" in it beforehand (world-writable), used.
    // clang-format off
    const std::tuple<const char*, mode_t, uid_t, bool, bool> cases[] = {
        {"sticky-shared", 01777, 0, true, false}, {"theirs", 0755, otherUserId, false, false},
        {"group-writable", 0770, self, false, false}, {"world-writable", 0777, self, false, false},
        {"mine", 0755, self, true, true}};
    // clang-format on
    const mode_t previousMask = ::umask(0);
    for (const auto& [name, mode, owner, foreignEntry, used] : cases) {
        const stdfs::path location = home / name;
        makeDirectory(location, mode, owner);
        if (foreignEntry)
            makeDirectory(location / "v1", 0777, otherUserId);
        ScopedVariable chosen(downloadLocationVariable, location.string());
        const WorkingDirectory directory = WorkingDirectory::claim(u"v1");
        const stdfs::path path = fl::filesystem::to_native(directory.path());
        EXPECT_EQ(path == location, used) << name;
        ASSERT_NO_THROW(directory.create()) << name;
        if (!used) {
            EXPECT_EQ(modeOf(path), 0700u) << name;
            struct stat st {};
            EXPECT_TRUE(::lstat(path.c_str(), &st) == 0 && st.st_uid == self) << name;
            EXPECT_EQ(path.parent_path(), home / "data/Quillbeck/RodudedOzovizaz") << name;
        }
    }
    ::umask(previousMask);
}

TEST_F(OtherUsers, TheInstallerDoesNotRunFromAPathTheyCanChange) {
    // clang-format off
    const std::tuple<const char*, mode_t, uid_t, bool> cases[] = {
        {"private", 0700, self, true}, {"sticky", 01777, self, true}, {"open", 0777, self, false},
        {"their-bin", 0755, otherUserId, false}};
    // clang-format on
    for (const auto& [name, mode, binOwner, runs] : cases) {
        const stdfs::path installer = home / name / "bin" / "setup";
        makeDirectory(home / name, mode, self);
        makeDirectory(installer.parent_path(), 0755, binOwner);
        writeScript(installer, "exit 7");
        if (runs)
            EXPECT_EQ(runInstaller(toPath(installer), {}), 7u) << name;
        else
            EXPECT_THROW(runInstaller(toPath(installer), {}), std::runtime_error) << name;
    }
}

TEST_F(OtherUsers, RemovalGrantsOnlyOwnerRightsAndSkipsWhatItCannotChange) {
    // The victim is an ordinary user here; root's entries play the foreign ones.
    const stdfs::path tree = home / "work";
    makeDirectory(tree / "kept", 0755, otherUserId);
    makeDirectory(tree / "kept" / "foreign", 0755, 0);
    std::ofstream(tree / "kept" / "foreign" / "file") << "root's";
    makeDirectory(tree / "locked" / "inner", 0700, otherUserId);
    ::lchown((tree / "locked").c_str(), otherUserId, otherUserId);
    ::lchown(tree.c_str(), otherUserId, otherUserId);

    const int status = runAsOtherUser([&] {
        ::chmod((tree / "locked" / "inner").c_str(), 0);
        ::chmod((tree / "locked").c_str(), 0);
        ::chmod((tree / "kept").c_str(), 0500);
        removeDirectoryAtShutdown(toPath(tree));
        return 0;
    });
    ASSERT_EQ(status, 0);
    EXPECT_FALSE(stdfs::exists(tree / "locked"));
    EXPECT_TRUE(stdfs::exists(tree / "kept" / "foreign" / "file"));
    EXPECT_EQ(modeOf(tree / "kept" / "foreign"), 0755u);
    // Owner rights where removal needed them, nothing where it did not; never group or other.
    EXPECT_EQ(modeOf(tree / "kept"), 0700u);
    EXPECT_EQ(modeOf(tree), 0755u);
}

TEST_F(OtherUsers, RemovalNeverFollowsAnEntryExchangedForALink) {
    const stdfs::path victim = home / "victim-secret";
    std::ofstream(victim) << "secret";
    ::chmod(victim.c_str(), 0600);
    const stdfs::path tree = home / "work";
    constexpr int entries = 300;
    for (int i = 0; i < entries; ++i) {
        const stdfs::path directory = tree / ("d" + std::to_string(i));
        writeFile(directory / "f", std::to_string(i));
        ::chmod((directory / "f").c_str(), 0);
        stdfs::create_symlink(victim, directory / "l");
    }
    std::atomic<bool> done{false};
    std::thread attacker([&] {
        for (int i = 0; !done; i = (i + 1) % entries) {
            const std::string d = (tree / ("d" + std::to_string(i))).string();
            ::renameat2(AT_FDCWD, (d + "/f").c_str(), AT_FDCWD, (d + "/l").c_str(),
                        RENAME_EXCHANGE);
        }
    });
    removeDirectoryAtShutdown(toPath(tree));
    done = true;
    attacker.join();
    EXPECT_EQ(modeOf(victim), 0600u);
}

TEST_F(OtherUsers, TreesNestedWithoutEndAreRemovedWithFewDescriptors) {
    const stdfs::path tree = home / "deep";
    stdfs::create_directories(tree);
    int fd = ::open(tree.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 3000; ++level) {
        ::mkdirat(fd, "a", 0700);
        const int next = ::openat(fd, "a", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    ::close(fd);
    inOwnProcess([&] {
        const struct rlimit few { 32, 32 };
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
        EXPECT_NO_THROW(fl::filesystem::remove_all(toPath(tree)));
        EXPECT_FALSE(stdfs::exists(tree));
    });
}

TEST_F(OtherUsers, OnlyRegularFilesAreLocalSources) {
    const stdfs::path sources = home / "sources";
    stdfs::create_directories(sources / "kci_dir.zip");
    ::mkfifo((sources / "kci_a.zip").c_str(), 0666);
    ScopedVariable chosen(installSourcesVariable, sources.string());
    ::alarm(60); // a source opened without O_NONBLOCK would wait for ever
    EXPECT_FALSE(findLocalSource().found());
    EXPECT_THROW(fl::filesystem::copy_file(toPath(sources / "kci_a.zip"), toPath(home / "copy"),
                                           fl::filesystem::copy_option::overwrite_if_exists),
                 std::exception);
    ::alarm(0);
}

} // namespace
} // namespace halvexconnector::tripwireimpl
