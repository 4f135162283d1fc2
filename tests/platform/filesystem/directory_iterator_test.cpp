#include <fl/filesystem/detail/native_form.h>
#include <fl/filesystem/directory_iterator.h>
#include <fl/filesystem/filesystem_error.h>
#include <fl/filesystem/operations.h>
#include <fl/i18n/conversion.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <sys/stat.h>

#include "TestTree.h"

namespace {

namespace fs = fl::filesystem;
using fl::i18n::ustring;
using fl::i18n::utf8_to_ustring;
using fs::halvex_pattern_string_context;
using fs::detail::upath_directory_iterator_impl;

// name -> full path name of every entry an iteration yields.
std::map<ustring, ustring> collect(upath_directory_iterator_impl& it) {
    std::map<ustring, ustring> entries;
    for (; it.is_open(); it.increment()) {
        EXPECT_TRUE(entries.emplace(it->filename(), it->full_pathname()).second) << "repeated";
    }
    return entries;
}

TEST(FilesystemPattern, StarMatchesAnyRunAndQuestionMarkOneCharacter) {
    struct Case {
        const char16_t* pattern;
        const char16_t* name;
        bool match;
    };
    const Case cases[] = {
        {u"*", u"", true},
        {u"*", u"anything.at.all", true},
        {u"kci*.zip", u"kci.zip", true},
        {u"kci*.zip", u"kci_2026.1.zip", true},
        {u"kci*.zip", u"kci.zip.part", false},
        {u"kci*.zip", u"xkci.zip", false},
        {u"kci*.zip", u"KCI.zip", false}, // names are case-sensitive here
        {u"halvexconnector*installer.zip", u"halvexconnector_installer.zip", true},
        {u"halvexconnector*installer.zip", u"halvexconnectorinstaller.zip", true},
        {u"halvexconnector*installer.zip", u"halvexconnector_installer.zip.zip", false},
        {u"a*b*c", u"aXXbYYbc", true},
        {u"a*b*c", u"aXXbYYbcd", false},
        {u"?.txt", u"a.txt", true},
        {u"?.txt", u".txt", false},
        {u"**a", u"bbba", true},
        {u"\u00E9*", u"\u00E9t\u00E9", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(halvex_pattern_string_context(c.pattern).matches(c.name), c.match)
            << fl::i18n::ustring_to_utf8(c.pattern) << " vs " << fl::i18n::ustring_to_utf8(c.name);
    }
    // Many stars against a long non-matching name must not take exponential time.
    const ustring long_name(5000, u'a');
    EXPECT_FALSE(halvex_pattern_string_context(u"*a*a*a*a*a*a*a*a*b").matches(long_name));
}

TEST(FilesystemDirectoryIteration, YieldsEveryEntryWithDotsAndFullNames) {
    fstest::TempDir dir;
    dir.write("one.txt");
    dir.write("two.zip");
    dir.mkdir("sub");
    const ustring base = utf8_to_ustring(dir.str());

    upath_directory_iterator_impl it(base, true, 0, false);
    const auto entries = collect(it);
    EXPECT_EQ(entries.size(), 5u);
    ASSERT_TRUE(entries.count(u".") && entries.count(u".."));
    EXPECT_EQ(entries.at(u"one.txt"), base + u"/one.txt");
    EXPECT_EQ(entries.at(u"sub"), base + u"/sub");
    EXPECT_FALSE(it.is_open());

    upath_directory_iterator_impl without_dots(base, true, fs::iteration_skip_dots);
    EXPECT_EQ(collect(without_dots).size(), 3u);
}

TEST(FilesystemDirectoryIteration, PatternSelectsEntriesAndTheFirstMatchIsCurrent) {
    fstest::TempDir dir;
    dir.write("kci_a.zip");
    dir.write("kci_b.zip");
    dir.write("halvexconnector_x_installer.zip");
    dir.write("readme.txt");
    const ustring base = utf8_to_ustring(dir.str() + "//"); // untidy input still works

    auto match = std::make_shared<upath_directory_iterator_impl>(
        fs::detail::make_native_form(base, true), halvex_pattern_string_context(u"kci*.zip"), true,
        0, false);
    ASSERT_TRUE(match->is_open());
    const ustring first = match->current().filename();
    EXPECT_TRUE(first == u"kci_a.zip" || first == u"kci_b.zip");
    EXPECT_EQ(match->current().full_pathname(), utf8_to_ustring(dir.str()) + u"/" + first);
    EXPECT_EQ(collect(*match).size(), 2u);

    upath_directory_iterator_impl none(base, halvex_pattern_string_context(u"*.exe"), true);
    EXPECT_FALSE(none.is_open());
}

TEST(FilesystemDirectoryIteration, ClosedIterationsRejectUse) {
    fstest::TempDir dir;
    dir.write("file");
    for (const std::string& target : {dir.str("missing"), dir.str("file")}) {
        upath_directory_iterator_impl it(utf8_to_ustring(target), true);
        EXPECT_FALSE(it.is_open());
        EXPECT_THROW(it.increment(), fs::invalid_operation_exception);
        EXPECT_THROW(it.current(), fs::invalid_operation_exception);
    }
    upath_directory_iterator_impl it(utf8_to_ustring(dir.str()), true);
    collect(it);
    EXPECT_THROW(it.increment(), fs::invalid_operation_exception);
}

TEST(FilesystemDirectoryIteration, RecursiveIterationDescendsButNotThroughLinks) {
    fstest::TempDir dir;
    dir.write("top/a.zip");
    dir.write("top/sub/b.zip");
    dir.write("top/sub/deeper/c.zip");
    dir.write("elsewhere/d.zip");
    std::filesystem::create_directory_symlink(dir.str("elsewhere"), dir.str("top/link"));

    upath_directory_iterator_impl it(utf8_to_ustring(dir.str("top")),
                                     halvex_pattern_string_context(u"*.zip"), true, 0, true);
    std::set<ustring> found;
    for (; it.is_open(); it.increment()) {
        found.insert(it->full_pathname());
    }
    const ustring base = utf8_to_ustring(dir.str("top"));
    EXPECT_EQ(found, (std::set<ustring>{base + u"/a.zip", base + u"/sub/b.zip",
                                        base + u"/sub/deeper/c.zip"}));
}

TEST(FilesystemDirectoryIteration, NamesThatAreNotUtf8StayUsable) {
    fstest::TempDir dir;
    dir.write("bad\xFFname");
    upath_directory_iterator_impl it(utf8_to_ustring(dir.str()), true, fs::iteration_skip_dots);
    ASSERT_TRUE(it.is_open());
    const fs::basic_path entry(it->full_pathname(), true);
    EXPECT_THROW(fl::i18n::ustring_to_utf8(it->filename()), fl::i18n::conversion_error);
    EXPECT_TRUE(fs::exists(entry));
    fs::permissions(entry, fs::file_status::perms_add | fs::file_status::perms_all);
    EXPECT_EQ(fs::remove_all(entry), 1u);
    EXPECT_TRUE(std::filesystem::is_empty(dir.str()));
}

// Adding all permissions throughout a tree, depth-first, is built from these pieces.
void grant_all(const fs::basic_path& entry) {
    fs::permissions(entry, fs::file_status::perms_add | fs::file_status::perms_all);
    if (!fs::symlink_status(entry).is_directory()) {
        return;
    }
    for (upath_directory_iterator_impl it(entry.string(), true); it.is_open(); it.increment()) {
        if (it->filename() == u"." || it->filename() == u"..") {
            continue;
        }
        grant_all(fs::basic_path(it->full_pathname(), true));
    }
}

TEST(FilesystemDirectoryIteration, PermissionsCanBeGrantedThroughoutALockedTree) {
    fstest::TempDir dir;
    dir.write("tree/a/b/file");
    dir.write("tree/c");
    for (const char* rel : {"tree/a/b/file", "tree/c", "tree/a/b", "tree/a", "tree"}) {
        ::chmod(dir.str(rel).c_str(), 0);
    }
    grant_all(dir.path("tree"));
    for (const char* rel : {"tree", "tree/a", "tree/a/b", "tree/a/b/file", "tree/c"}) {
        struct stat st {};
        ASSERT_EQ(::stat(dir.str(rel).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0777u) << rel;
    }
}

} // namespace
