#include <fl/filesystem/basic_path.h>
#include <fl/filesystem/detail/native_form.h>

#include <gtest/gtest.h>

namespace {

using fl::filesystem::basic_path;
using fl::filesystem::ustring;
using fl::filesystem::detail::concatenate_pathname;
using fl::filesystem::detail::make_native_form;

TEST(FilesystemNativeForm, NormalisesSeparatorsWithTheFlagAndKeepsTextWithout) {
    struct Case {
        ustring in;
        ustring out;
    };
    const Case cases[] = {
        {u"", u""},
        {u"/", u"/"},
        {u"//", u"/"},
        {u"\\", u"/"},
        {u"C:\\Users\\me", u"C:/Users/me"},
        {u"/a//b///c", u"/a/b/c"},
        {u"/a/b/", u"/a/b"},
        {u"a\\/\\b\\", u"a/b"},
        {u"./x/../y", u"./x/../y"}, // not resolved: symbolic links would make that wrong
        {u"/t\u00E9st/\U0001F4C1", u"/t\u00E9st/\U0001F4C1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(make_native_form(c.in, true), c.out);
        EXPECT_EQ(make_native_form(c.in, false), c.in);
    }
}

TEST(FilesystemNativeForm, ConcatenationPutsExactlyOneSeparatorBetween) {
    struct Case {
        ustring base;
        ustring component;
        ustring out;
    };
    const Case cases[] = {
        {u"/root", u"sys", u"/root/sys"},
        {u"/root/", u"sys", u"/root/sys"},
        {u"/root\\\\", u"\\\\sys", u"/root/sys"},
        {u"/", u"sys", u"/sys"},
        {u"", u"sys", u"sys"},       // stays relative
        {u"/root", u"", u"/root"},   // nothing to add
        {u"/root", u"//", u"/root"}, // nor here
        {u"/root", u"a/b", u"/root/a/b"},
        {u"rel", u"kci_a.zip", u"rel/kci_a.zip"},
    };
    for (const auto& c : cases) {
        ustring base = c.base;
        concatenate_pathname(base, c.component, true);
        EXPECT_EQ(base, c.out) << std::string(c.base.begin(), c.base.end());
    }
    // Chained like the local sources directory is built.
    ustring root = u"/opt/app/";
    for (const ustring part : {u"sys", u"qbds", u"win64"}) {
        concatenate_pathname(root, part, true);
    }
    EXPECT_EQ(root, u"/opt/app/sys/qbds/win64");
}

TEST(FilesystemNativeForm, PathStoresNativeFormAndFlag) {
    const basic_path empty(u"", true);
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(basic_path(), basic_path(u"", true));

    const basic_path native(u"\\tmp\\\\x\\", true);
    EXPECT_EQ(native.string(), u"/tmp/x");
    EXPECT_TRUE(native.form());

    const basic_path verbatim(u"\\tmp\\\\x\\", false);
    EXPECT_EQ(verbatim.string(), u"\\tmp\\\\x\\");
    EXPECT_FALSE(verbatim.form());
    EXPECT_NE(native, verbatim);

    basic_path reassigned = native;
    reassigned.assign(u"a//b", true);
    EXPECT_EQ(reassigned.string(), u"a/b");
}

} // namespace
