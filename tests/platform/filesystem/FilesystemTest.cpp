#include <boost/exception/diagnostic_information.hpp>
#include <csignal>
#include <fl/filesystem/detail/native_form.h>
#include <fl/filesystem/directory_iterator.h>
#include <fl/filesystem/filesystem_error.h>
#include <fl/filesystem/operations.h>
#include <fl/filesystem/path_conversion.h>
#include <fl/i18n/conversion.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tripwire/testsupport/ModuleHome.h>
#include <tripwire/testsupport/OtherUser.h>
#include <tripwire/testsupport/TempDirectory.h>
#include <tripwire/testsupport/Thrown.h>

namespace {

namespace fs = fl::filesystem;
namespace sfs = std::filesystem;
using fl::i18n::ustring;
using fl::i18n::ustring_to_utf8;
using fs::copy_option;
using fs::file_status;
using fs::halvex_pattern_string_context;
using fs::detail::upath_directory_iterator_impl;
using namespace tripwire::testsupport;

struct FilesystemTest : ::testing::Test {
    TempDirectory dir;
    fs::basic_path at(const std::string& rel = "") const {
        return fs::path_from_native(rel.empty() ? dir.path() : dir / rel);
    }
    std::string str(const std::string& rel) const { return (dir / rel).string(); }
    std::size_t entriesIn(const std::string& rel) const {
        return std::distance(sfs::directory_iterator(dir / rel), sfs::directory_iterator());
    }
};

TEST(FilesystemNativeForm, NormalisesSeparatorsOnlyWithTheFlagAsInTheInstallRootOverride) {
    // "./x/../y" stays: symbolic links would make resolving it wrong.
    // clang-format off
    const std::pair<ustring, ustring> forms[] = {
        {u"", u""}, {u"//", u"/"}, {u"\\", u"/"}, {u"C:\\Users\\me", u"C:/Users/me"},
        {u"/a//b///c/", u"/a/b/c"}, {u"a\\/\\b\\", u"a/b"}, {u"./x/../y", u"./x/../y"}};
    // clang-format on
    for (const auto& [in, out] : forms) {
        EXPECT_EQ(fs::detail::make_native_form(in, true), out) << ustring_to_utf8(in);
        EXPECT_EQ(fs::detail::make_native_form(in, false), in);
    }
    const std::tuple<ustring, ustring, ustring> joins[] = {
        {u"/root", u"sys", u"/root/sys"}, {u"/root\\\\", u"\\\\sys", u"/root/sys"},
        {u"/", u"sys", u"/sys"},          {u"", u"sys", u"sys"},
        {u"/root", u"//", u"/root"},      {u"rel", u"a/b", u"rel/a/b"}};
    for (auto [base, component, out] : joins) {
        fs::detail::concatenate_pathname(base, component, true);
        EXPECT_EQ(base, out) << ustring_to_utf8(out);
    }
    const fs::basic_path native(u"\\tmp\\\\x\\", true), verbatim(u"\\tmp\\\\x\\", false);
    EXPECT_EQ(native.string(), u"/tmp/x");
    EXPECT_EQ(verbatim.string(), u"\\tmp\\\\x\\");
    EXPECT_NE(native, verbatim);
    // The install root: the override in native form, else the tree holding this library.
    ScopedVariable root("QB_INSTALL_ROOT", "/opt/some app//x/");
    EXPECT_EQ(fs::get_install_path().string(), u"/opt/some app/x");
    ScopedVariable unset("QB_INSTALL_ROOT", "");
    EXPECT_EQ(fs::to_native(fs::get_install_path()), sfs::canonical(staged::root()));
}

TEST_F(FilesystemTest, FreshNamesStatusOfEveryKindParentsMadeAndPermissionsSparingLinkTargets) {
    std::set<std::string> names;
    for (int i = 0; i < 500; ++i)
        names.insert(fs::to_utf8(fs::tmpnam(at(), u"_tmp_QSHI_", u".zip")));
    EXPECT_EQ(names.size(), 500u);
    const std::string& some = *names.begin();
    EXPECT_TRUE(some.starts_with(str("_tmp_QSHI_")) && some.ends_with(".zip")) << some;
    EXPECT_TRUE(sfs::is_empty(dir.path())) << "nothing is created";
    writeFile(dir / "file");
    EXPECT_THROW(fs::tmpnam(at("file"), u"p", u""), fs::filesystem_error);
    sfs::create_directory(dir / "sub");
    sfs::create_symlink(dir / "nowhere", dir / "dangling");
    sfs::create_directory_symlink(dir / "sub", dir / "link");
    ::chmod(str("file").c_str(), 0640);
    for (const char* name : {"file", "sub", "dangling"})
        EXPECT_TRUE(fs::exists(at(name))) << name;
    EXPECT_FALSE(fs::exists(at("missing")));
    EXPECT_FALSE(fs::exists(at("file/below-a-file")));
    EXPECT_FALSE(fs::exists(fs::basic_path()));
    EXPECT_TRUE(fs::status(at("link")).is_directory());
    EXPECT_TRUE(fs::symlink_status(at("link")).is_symlink());
    EXPECT_TRUE(fs::status(at("file")).is_regular_file());
    EXPECT_EQ(fs::status(at("file")).permissions(), static_cast<file_status::perms>(0640));
    EXPECT_EQ(fs::status(at("missing")).type(), fs::file_type::not_found);
    EXPECT_TRUE(fs::create_directories(at("a/b/c")));
    EXPECT_FALSE(fs::create_directories(at("a/b/c")));
    for (const auto& bad : {at("file"), at("file/x"), fs::basic_path()})
        EXPECT_THROW(fs::create_directories(bad), fs::filesystem_error);
    ::chmod(str("file").c_str(), 0);
    fs::permissions(at("file"), file_status::perms_add | file_status::perms_all);
    EXPECT_EQ(modeOf(dir / "file"), 0777u); // never set-id or sticky bits
    fs::permissions(at("file"),
                    file_status::perms_remove | file_status::group_write | file_status::others_all);
    EXPECT_EQ(modeOf(dir / "file"), 0750u);
    fs::permissions(at("file"), file_status::owner_read);
    EXPECT_EQ(modeOf(dir / "file"), 0400u);
    EXPECT_THROW(fs::permissions(at("file"), file_status::perms_add | file_status::perms_remove),
                 fs::filesystem_error);
    sfs::create_symlink(dir / "file", dir / "file-link");
    fs::permissions(at("file-link"), file_status::perms_add | file_status::perms_all);
    EXPECT_EQ(modeOf(dir / "file"), 0400u);
    const auto error = thrown<fs::filesystem_error>(
        [&] { fs::permissions(at("missing"), file_status::perms_add | file_status::perms_all); });
    EXPECT_EQ(error.value().code(), std::errc::no_such_file_or_directory);
    EXPECT_EQ(error->path1(), str("missing"));
    EXPECT_NE(std::string(error->what()).find("No such file or directory"), std::string::npos);
    const std::string diagnostic = boost::diagnostic_information(*error, true);
    EXPECT_NE(diagnostic.find(str("missing")), std::string::npos) << diagnostic;
}

TEST_F(FilesystemTest, CopyFileKeepsContentAndModeAndNeverLeavesAPartialTarget) {
    std::string data(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
    writeFile(dir / "source.zip", data);
    ::chmod(str("source.zip").c_str(), 0750);
    writeFile(dir / "target/old", "old");
    fs::copy_file(at("source.zip"), at("target/old"), copy_option::overwrite_if_exists);
    EXPECT_TRUE(readFile(dir / "target/old") == data);
    EXPECT_EQ(modeOf(dir / "target/old"), 0750u);
    EXPECT_THROW(fs::copy_file(at("source.zip"), at("target/old"), copy_option::fail_if_exists),
                 fs::filesystem_error);
    for (const auto& [from, to] : {std::pair{"missing", "target/t"},
                                   {"target", "target/t"},
                                   {"source.zip", "no-such-dir/t"}})
        EXPECT_THROW(fs::copy_file(at(from), at(to), copy_option::overwrite_if_exists),
                     fs::filesystem_error)
            << from;
    EXPECT_EQ(entriesIn("target"), 1u) << "no helper or partial file left behind";
    // A file-size limit below the source's size makes the write fail after some data went out.
    const int status = runInChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            fs::copy_file(at("source.zip"), at("target/copy"), copy_option::overwrite_if_exists);
        } catch (const fs::filesystem_error& error) {
            return error.code() == std::errc::file_too_large ? 0 : 2;
        }
        return 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(entriesIn("target"), 1u);
}

// Root ignores mode bits, so the locked tree is built and removed by an unprivileged child.
TEST_F(FilesystemTest, RemoveAllOfALockedTreeThrowsUntilPermissionsAreAdded) {
    const bool asOtherUser = otherUserUnavailable().empty();
    if (asOtherUser && ::chown(dir.path().c_str(), otherUserId, otherUserId) != 0)
        GTEST_SKIP() << "cannot hand the test directory to an unprivileged user";
    constexpr int skipped = 77;
    const int code = runInChild(
        [&] {
            if (::access(dir.path().c_str(), W_OK | X_OK) != 0)
                return skipped; // the temporary folder's parents are closed to others
            writeFile(dir / "tree/before.txt");
            writeFile(dir / "tree/locked/deeper/inside.txt");
            ::chmod(str("tree/locked/deeper").c_str(), 0);
            ::chmod(str("tree/locked").c_str(), 0);
            try {
                fs::remove_all(at("tree"));
                return 1; // reported success with entries left
            } catch (const fs::filesystem_error& error) {
                if (error.code() != std::errc::permission_denied || error.path1() != str("tree") ||
                    error.path2() != str("tree/locked"))
                    return 2;
            }
            if (!fs::exists(at("tree/locked")) || fs::exists(at("tree/before.txt")))
                return 3;
            // Depth-first: an entry gets its permissions before anything below it is looked at.
            for (upath_directory_iterator_impl it(at("tree").string(), true,
                                                  fs::iteration_skip_dots, true);
                 it.is_open(); it.increment())
                fs::permissions(fs::basic_path(it->full_pathname(), true),
                                file_status::perms_add | file_status::perms_all);
            fs::remove_all(at("tree"));
            return fs::exists(at("tree")) ? 4 : 0;
        },
        asOtherUser);
    if (code == skipped)
        GTEST_SKIP() << "cannot run as an unprivileged user here";
    EXPECT_EQ(code, 0);
}

TEST_F(FilesystemTest, PatternsMatchAndDirectoryIterationYieldsMatchesButNotThroughLinks) {
    // clang-format off
    const std::tuple<const char16_t*, const char16_t*, bool> cases[] = {
        {u"*", u"", true}, {u"kci*.zip", u"kci_2026.1.zip", true},
        {u"kci*.zip", u"kci.zip.part", false}, {u"kci*.zip", u"xkci.zip", false},
        {u"kci*.zip", u"KCI.zip", false}, {u"a*b*c", u"aXXbYYbc", true},
        {u"a*b*c", u"aXXbYYbcd", false}, {u"?.txt", u"a.txt", true}, {u"?.txt", u".txt", false},
        {u"**a", u"bbba", true}, {u"\u00E9*", u"\u00E9t\u00E9", true}};
    // clang-format on
    for (const auto& [pattern, name, match] : cases)
        EXPECT_EQ(halvex_pattern_string_context(pattern).matches(name), match)
            << ustring_to_utf8(pattern) << " vs " << ustring_to_utf8(name);
    // Many stars against a long non-matching name must not take exponential time.
    EXPECT_FALSE(halvex_pattern_string_context(u"*a*a*a*a*a*a*a*a*b").matches(ustring(5000, u'a')));
    for (const char* name :
         {"top/kci_a.zip", "top/readme.txt", "top/sub/deeper/c.zip", "out/d.zip"})
        writeFile(dir / name);
    sfs::create_directory_symlink(dir / "out", dir / "top/link");
    const ustring top = at("top").string();
    const auto collect = [](upath_directory_iterator_impl& it) {
        std::set<ustring> found;
        for (; it.is_open(); it.increment())
            EXPECT_TRUE(found.insert(it->full_pathname()).second) << "repeated";
        return found;
    };
    upath_directory_iterator_impl all(top + u"//", true, 0, false);
    EXPECT_EQ(collect(all).size(), 6u) << "with . and ..";
    upath_directory_iterator_impl zips(top, halvex_pattern_string_context(u"*.zip"), true, 0, true);
    EXPECT_EQ(collect(zips), (std::set<ustring>{top + u"/kci_a.zip", top + u"/sub/deeper/c.zip"}));
    EXPECT_THROW(zips.increment(), fs::invalid_operation_exception);
    for (const char* closed : {"missing", "top/readme.txt"}) {
        upath_directory_iterator_impl it(at(closed).string(), true);
        EXPECT_FALSE(it.is_open());
        EXPECT_THROW(it.current(), fs::invalid_operation_exception);
    }
    upath_directory_iterator_impl none(top, halvex_pattern_string_context(u"*.exe"), true);
    EXPECT_FALSE(none.is_open());
    writeFile(dir / "bad\xFFname");
    upath_directory_iterator_impl bad(at().string(), halvex_pattern_string_context(u"bad*"), true);
    ASSERT_TRUE(bad.is_open());
    const fs::basic_path entry(bad->full_pathname(), true);
    EXPECT_THROW(ustring_to_utf8(bad->filename()), fl::i18n::conversion_error);
    EXPECT_TRUE(fs::exists(entry));
    EXPECT_EQ(fs::remove_all(entry), 1u);
    EXPECT_EQ(fs::remove_all(entry), 0u);
}

} // namespace
