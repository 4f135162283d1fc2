#include <fl/filesystem/filesystem_error.h>
#include <fl/filesystem/operations.h>

#include <boost/exception/diagnostic_information.hpp>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "TestTree.h"

namespace {

namespace fs = fl::filesystem;
using fs::file_status;

mode_t mode_of(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(FilesystemOperations, ExistsSeesEveryKindOfEntryButNothingElse) {
    fstest::TempDir dir;
    dir.write("file");
    dir.mkdir("sub");
    std::filesystem::create_symlink(dir.str("nowhere"), dir.str("dangling"));

    EXPECT_TRUE(fs::exists(dir.path("file")));
    EXPECT_TRUE(fs::exists(dir.path("sub")));
    EXPECT_TRUE(fs::exists(dir.path("dangling"))); // the link itself is there
    EXPECT_FALSE(fs::exists(dir.path("missing")));
    EXPECT_FALSE(fs::exists(dir.path("file/below-a-file")));
    EXPECT_FALSE(fs::exists(fs::basic_path()));
}

TEST(FilesystemOperations, StatusFollowsLinksAndSymlinkStatusDoesNot) {
    fstest::TempDir dir;
    dir.mkdir("sub");
    dir.write("file");
    std::filesystem::create_directory_symlink(dir.str("sub"), dir.str("link"));
    ::chmod(dir.str("file").c_str(), 0640);

    EXPECT_TRUE(fs::status(dir.path("sub")).is_directory());
    EXPECT_TRUE(fs::status(dir.path("link")).is_directory());
    EXPECT_TRUE(fs::symlink_status(dir.path("link")).is_symlink());
    EXPECT_FALSE(fs::symlink_status(dir.path("link")).is_directory());

    const auto file = fs::status(dir.path("file"));
    EXPECT_TRUE(file.is_regular_file());
    EXPECT_FALSE(file.is_directory());
    EXPECT_EQ(file.permissions(), static_cast<file_status::perms>(0640));

    const auto missing = fs::status(dir.path("missing"));
    EXPECT_EQ(missing.type(), fs::file_type::not_found);
    EXPECT_FALSE(missing.exists());
}

TEST(FilesystemOperations, PermissionsAddRemoveAndSet) {
    fstest::TempDir dir;
    dir.write("file");
    const auto file = dir.path("file");
    ::chmod(dir.str("file").c_str(), 0);

    fs::permissions(file, file_status::perms_add | file_status::perms_all);
    EXPECT_EQ(mode_of(dir.str("file")), 0777u); // never set-id or sticky bits

    fs::permissions(file,
                    file_status::perms_remove | file_status::group_write | file_status::others_all);
    EXPECT_EQ(mode_of(dir.str("file")), 0750u);

    fs::permissions(file, file_status::owner_read);
    EXPECT_EQ(mode_of(dir.str("file")), 0400u);

    EXPECT_THROW(fs::permissions(file, file_status::perms_add | file_status::perms_remove |
                                           file_status::owner_read),
                 fs::filesystem_error);
}

TEST(FilesystemOperations, PermissionsLeaveSymbolicLinksAndTheirTargetsAlone) {
    fstest::TempDir dir;
    dir.write("outside");
    ::chmod(dir.str("outside").c_str(), 0600);
    std::filesystem::create_symlink(dir.str("outside"), dir.str("link"));

    fs::permissions(dir.path("link"), file_status::perms_add | file_status::perms_all);
    EXPECT_EQ(mode_of(dir.str("outside")), 0600u);
}

TEST(FilesystemOperations, FailuresCarryPathAndSystemText) {
    fstest::TempDir dir;
    try {
        fs::permissions(dir.path("missing"), file_status::perms_add | file_status::perms_all);
        FAIL() << "no exception";
    } catch (const fs::filesystem_error& error) {
        const std::string what = error.what();
        EXPECT_NE(what.find(dir.str("missing")), std::string::npos) << what;
        EXPECT_NE(what.find("No such file or directory"), std::string::npos) << what;
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        EXPECT_EQ(error.path1(), dir.str("missing"));
        // The details also show in Boost.Exception's diagnostic text.
        const std::string diagnostic = boost::diagnostic_information(error, true);
        EXPECT_NE(diagnostic.find("tag_path"), std::string::npos) << diagnostic;
        EXPECT_NE(diagnostic.find(dir.str("missing")), std::string::npos) << diagnostic;
    }
}

TEST(FilesystemOperations, CreateDirectoriesMakesMissingParentsOnly) {
    fstest::TempDir dir;
    EXPECT_TRUE(fs::create_directories(dir.path("a/b/c")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.str("a/b/c")));
    EXPECT_FALSE(fs::create_directories(dir.path("a/b/c")));
    EXPECT_FALSE(fs::create_directories(dir.path("a")));

    dir.write("file");
    EXPECT_THROW(fs::create_directories(dir.path("file")), fs::filesystem_error);
    EXPECT_THROW(fs::create_directories(dir.path("file/x")), fs::filesystem_error);
    EXPECT_THROW(fs::create_directories(fs::basic_path()), fs::filesystem_error);
}

} // namespace
