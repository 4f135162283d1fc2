#include <fl/filesystem/filesystem_error.h>
#include <fl/filesystem/operations.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "ChildProcess.h"
#include "TestTree.h"

namespace {

namespace fs = fl::filesystem;

TEST(FilesystemRemoveAll, RemovesNestedTreesAndCountsEntries) {
    fstest::TempDir dir;
    dir.write("tree/a.txt");
    dir.write("tree/sub/b.txt");
    dir.write("tree/sub/deeper/c.txt");
    dir.mkdir("tree/sub/empty");
    ::chmod(dir.str("tree/sub/deeper/c.txt").c_str(), 0);
    ::chmod(dir.str("tree/sub/deeper").c_str(),
            0555); // read-only directories are no obstacle for root, see below

    if (::geteuid() == 0) {
        EXPECT_EQ(fs::remove_all(dir.path("tree")), 7u);
        EXPECT_FALSE(std::filesystem::exists(dir.str("tree")));
    } else {
        ::chmod(dir.str("tree/sub/deeper").c_str(), 0755);
        EXPECT_EQ(fs::remove_all(dir.path("tree")), 7u);
    }
    EXPECT_EQ(fs::remove_all(dir.path("tree")), 0u); // nothing there: nothing to do
}

TEST(FilesystemRemoveAll, RemovesLinksButNeverWhatTheyPointTo) {
    fstest::TempDir dir;
    dir.write("keep/precious.txt");
    dir.mkdir("tree");
    std::filesystem::create_directory_symlink(dir.str("keep"), dir.str("tree/link-to-dir"));
    std::filesystem::create_symlink(dir.str("keep/precious.txt"), dir.str("tree/link-to-file"));

    fs::remove_all(dir.path("tree"));
    EXPECT_FALSE(std::filesystem::exists(dir.str("tree")));
    EXPECT_TRUE(std::filesystem::exists(dir.str("keep/precious.txt")));

    // A link named directly is removed as a link, too.
    std::filesystem::create_directory_symlink(dir.str("keep"), dir.str("top-link"));
    EXPECT_EQ(fs::remove_all(dir.path("top-link")), 1u);
    EXPECT_TRUE(std::filesystem::exists(dir.str("keep/precious.txt")));
}

TEST(FilesystemRemoveAll, RemovesASingleFile) {
    fstest::TempDir dir;
    dir.write("file");
    EXPECT_EQ(fs::remove_all(dir.path("file")), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir.str("file")));
}

// A tree with a directory that its owner locked (mode 000) cannot be removed. Root ignores mode
// bits, so the check runs in a child without root's privileges; the child builds the tree itself.
class FilesystemRemoveAllLocked : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() == 0 &&
            ::chown(dir.str().c_str(), fstest::unprivileged_id, fstest::unprivileged_id) != 0) {
            GTEST_SKIP() << "cannot hand the test directory to an unprivileged user";
        }
    }

    int run(const std::function<int()>& check) {
        const int code = fstest::run_in_child(
            [&] {
                // The temporary folder's parents may be closed to other users.
                return ::access(dir.str().c_str(), W_OK | X_OK) == 0 ? check()
                                                                     : fstest::child_skipped;
            },
            true);
        return code;
    }

    fstest::TempDir dir;
};

#define SKIP_IF_CHILD_SKIPPED(code)                                                                \
    if ((code) == fstest::child_skipped) {                                                         \
        GTEST_SKIP() << "cannot run as an unprivileged user here (no CAP_SETUID, or the "          \
                        "temporary folder is closed to other users)";                              \
    }

TEST_F(FilesystemRemoveAllLocked, ThrowsAndNeverReportsSuccessWithEntriesLeft) {
    const int code = run([&] {
        dir.write("tree/before.txt");
        dir.write("tree/locked/inside.txt");
        dir.write("tree/sub/after.txt");
        ::chmod(dir.str("tree/locked").c_str(), 0);
        try {
            fs::remove_all(dir.path("tree"));
            return 1; // reported success
        } catch (const fs::filesystem_error& error) {
            if (error.code() != std::errc::permission_denied) {
                return 2;
            }
            if (error.path1() != dir.str("tree") || error.path2() != dir.str("tree/locked")) {
                return 3;
            }
            if (std::string(error.what()).find("Permission denied") == std::string::npos) {
                return 4;
            }
        }
        // Everything removable went; the locked part is still there.
        if (!fs::exists(dir.path("tree/locked")) || fs::exists(dir.path("tree/before.txt")) ||
            fs::exists(dir.path("tree/sub"))) {
            return 5;
        }
        return 0;
    });
    SKIP_IF_CHILD_SKIPPED(code);
    EXPECT_EQ(code, 0);
}

TEST_F(FilesystemRemoveAllLocked, SucceedsOnceAllPermissionsWereAdded) {
    const int code = run([&] {
        dir.write("tree/locked/deeper/inside.txt");
        ::chmod(dir.str("tree/locked/deeper").c_str(), 0);
        ::chmod(dir.str("tree/locked").c_str(), 0);
        try {
            fs::remove_all(dir.path("tree"));
            return 1;
        } catch (const fs::filesystem_error&) {
        }
        // Depth-first: an entry gets its permissions before anything below it is looked at.
        using fs::file_status;
        fs::permissions(dir.path("tree/locked"), file_status::perms_add | file_status::perms_all);
        fs::permissions(dir.path("tree/locked/deeper"),
                        file_status::perms_add | file_status::perms_all);
        fs::remove_all(dir.path("tree"));
        return fs::exists(dir.path("tree")) ? 2 : 0;
    });
    SKIP_IF_CHILD_SKIPPED(code);
    EXPECT_EQ(code, 0);
}

} // namespace
