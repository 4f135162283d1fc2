#include <fl/filesystem/filesystem_error.h>
#include <fl/filesystem/operations.h>
#include <fl/i18n/conversion.h>

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "TestTree.h"

namespace {

namespace fs = fl::filesystem;
using fl::i18n::ustring;
using fl::i18n::ustring_to_utf8;
using fl::i18n::utf8_to_ustring;

TEST(FilesystemTmpnam, NamesAFreshEntryInsideTheDirectoryAndCreatesNothing) {
    fstest::TempDir dir;
    const ustring name = fs::tmpnam(utf8_to_ustring(dir.str() + "/"), u"_tmp_QSHI_", u"");
    const std::string text = ustring_to_utf8(name);
    const std::string expected_start = dir.str() + "/_tmp_QSHI_";

    ASSERT_EQ(text.rfind(expected_start, 0), 0u) << text;
    EXPECT_GT(text.size(), expected_start.size());
    EXPECT_EQ(text.find('/', dir.str().size() + 1), std::string::npos); // directly inside
    EXPECT_FALSE(std::filesystem::exists(text));
    EXPECT_TRUE(std::filesystem::is_empty(dir.str()));

    const auto with_suffix = fs::tmpnam(dir.path(), u"p", u".zip");
    EXPECT_TRUE(with_suffix.form());
    const std::string suffixed = fs::to_utf8(with_suffix);
    EXPECT_EQ(suffixed.substr(suffixed.size() - 4), ".zip");
}

TEST(FilesystemTmpnam, ConcurrentCallersNeverGetTheSameName) {
    fstest::TempDir dir;
    const ustring directory = utf8_to_ustring(dir.str());
    constexpr int threads = 8;
    constexpr int per_thread = 250;
    std::mutex mutex;
    std::set<ustring> names;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < per_thread; ++i) {
                ustring name = fs::tmpnam(directory, u"x", u"");
                // Take some of the names, as callers do, so that taken names are about.
                if (i % 10 == 0) {
                    fs::create_directories(fs::basic_path(name, true));
                }
                std::lock_guard<std::mutex> lock(mutex);
                names.insert(std::move(name));
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(names.size(), static_cast<std::size_t>(threads * per_thread));
}

TEST(FilesystemTmpnam, ADirectoryThatIsAFileIsAnError) {
    fstest::TempDir dir;
    dir.write("file");
    EXPECT_THROW(fs::tmpnam(utf8_to_ustring(dir.str("file")), u"p", u""), fs::filesystem_error);
}

} // namespace
