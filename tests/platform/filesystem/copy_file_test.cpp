#include <fl/filesystem/filesystem_error.h>
#include <fl/filesystem/operations.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

#include "ChildProcess.h"
#include "TestTree.h"

namespace {

namespace fs = fl::filesystem;
using fs::copy_option;

std::size_t entries_in(const std::string& dir) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) {
        ++count;
    }
    return count;
}

std::string pattern_bytes(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
    }
    return data;
}

TEST(FilesystemCopyFile, CopiesContentsAndModeOfALargeFile) {
    fstest::TempDir dir;
    const std::string data = pattern_bytes(3 * 1024 * 1024 + 17);
    dir.write("source.zip", data);
    ::chmod(dir.str("source.zip").c_str(), 0750);
    dir.mkdir("target");

    fs::copy_file(dir.path("source.zip"), dir.path("target/copy.zip"),
                  copy_option::overwrite_if_exists);

    EXPECT_EQ(fstest::read_file(dir.str("target/copy.zip")), data);
    EXPECT_EQ(std::filesystem::status(dir.str("target/copy.zip")).permissions(),
              std::filesystem::perms(0750));
    EXPECT_EQ(fstest::read_file(dir.str("source.zip")), data); // the source stays
    EXPECT_EQ(entries_in(dir.str("target")), 1u);              // no helper file left behind
}

TEST(FilesystemCopyFile, CopyOptionDecidesAboutAnExistingTarget) {
    fstest::TempDir dir;
    dir.write("source", "new");
    dir.write("target", "old");

    EXPECT_THROW(fs::copy_file(dir.path("source"), dir.path("target"), copy_option::fail_if_exists),
                 fs::filesystem_error);
    EXPECT_EQ(fstest::read_file(dir.str("target")), "old");

    fs::copy_file(dir.path("source"), dir.path("target"), copy_option::overwrite_if_exists);
    EXPECT_EQ(fstest::read_file(dir.str("target")), "new");

    fs::copy_file(dir.path("source"), dir.path("fresh"), copy_option::fail_if_exists);
    EXPECT_EQ(fstest::read_file(dir.str("fresh")), "new");
    EXPECT_EQ(entries_in(dir.str()), 3u);
}

TEST(FilesystemCopyFile, BadSourcesAndTargetsThrowAndCreateNothing) {
    fstest::TempDir dir;
    dir.mkdir("empty");
    dir.mkdir("a-directory");
    dir.write("source");

    try {
        fs::copy_file(dir.path("missing"), dir.path("empty/t"), copy_option::overwrite_if_exists);
        FAIL() << "copied a missing file";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.path1(), dir.str("missing"));
        EXPECT_EQ(error.path2(), dir.str("empty/t"));
    }
    EXPECT_THROW(fs::copy_file(dir.path("a-directory"), dir.path("empty/t"),
                               copy_option::overwrite_if_exists),
                 fs::filesystem_error);
    EXPECT_THROW(fs::copy_file(dir.path("source"), dir.path("no-such-dir/t"),
                               copy_option::overwrite_if_exists),
                 fs::filesystem_error);
    EXPECT_EQ(entries_in(dir.str("empty")), 0u);
}

TEST(FilesystemCopyFile, AFailureHalfwayLeavesNoPartialTarget) {
    fstest::TempDir dir;
    dir.write("source", pattern_bytes(512 * 1024));
    dir.mkdir("target");

    // A file-size limit below the source's size makes the write fail after some data went out.
    const int code = fstest::run_in_child(
        [&] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{64 * 1024, 64 * 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            try {
                fs::copy_file(dir.path("source"), dir.path("target/copy"),
                              copy_option::overwrite_if_exists);
                return 1;
            } catch (const fs::filesystem_error& error) {
                return error.code() == std::errc::file_too_large ? 0 : 2;
            }
        },
        false);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(entries_in(dir.str("target")), 0u);
}

} // namespace
