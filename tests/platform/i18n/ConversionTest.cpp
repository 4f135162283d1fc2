#include <fl/i18n/conversion.h>
#include <fl/i18n/environment.h>
#include <gtest/gtest.h>
#include <random>
#include <tripwire/testsupport/TempDirectory.h>
#include <tripwire/testsupport/Thrown.h>

namespace {

using fl::i18n::conversion_error;
using fl::i18n::ustring;
using fl::i18n::ustring_to_utf8;
using fl::i18n::utf8_to_ustring;
using tripwire::testsupport::ScopedVariable;
using tripwire::testsupport::thrown;

TEST(I18nConversion, RoundTripsEscapesAndRejectsInvalidUtf8WithItsOffsetAlsoInTheEnvironment) {
    for (const std::string& utf8 :
         {std::string("plain \x01\x7F"), std::string("caf\xC3\xA9 \xE2\x82\xAC \xE4\xB8\xAD"),
          std::string("\xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"), std::string("nul\0inside", 10),
          std::string("\xEF\xBF\xBF")})
        EXPECT_EQ(ustring_to_utf8(utf8_to_ustring(utf8)), utf8);
    EXPECT_EQ(utf8_to_ustring("\xF0\x9F\x98\x80"), (ustring{0xD83D, 0xDE00}));
    for (const ustring& unpaired : {ustring{u'a', 0xD800}, ustring{0xDC00, u'a'},
                                    ustring{0xDE00, 0xD83D}, ustring{0xD83D, u'x', 0xDE00}})
        EXPECT_THROW(ustring_to_utf8(unpaired), conversion_error);
    // clang-format off
    const std::pair<std::string, std::size_t> cases[] = {{"ab\x80", 2}, {"\xC0\xAF", 0},
        {"x\xC1\xBF", 1}, {"\xE0\x80\xAF", 0}, {"\xF0\x80\x80\xAF", 0}, {"ok\xED\xBF\xBF", 2},
        {"\xF4\x90\x80\x80", 0}, {"\xFF", 0}, {"abc\xE2\x82", 3}, {"\xE2\x82x", 0}};
    // clang-format on
    for (const auto& [bytes, offset] : cases) {
        const auto error = thrown<conversion_error>([&] { utf8_to_ustring(bytes); });
        EXPECT_EQ(error.value().offset(), offset) << bytes;
        EXPECT_NE(std::string(error->what()).find("invalid UTF-8"), std::string::npos);
    }
    using fl::i18n::detail::bytes_to_ustring_escaped;
    using fl::i18n::detail::ustring_to_bytes_escaped;
    std::mt19937 random(42);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(static_cast<std::size_t>(round % 17), '\0');
        for (auto& b : bytes)
            b = static_cast<char>(random());
        ASSERT_EQ(ustring_to_bytes_escaped(bytes_to_ustring_escaped(bytes)), bytes);
    }
    EXPECT_EQ(bytes_to_ustring_escaped("a\xFF"), (ustring{u'a', 0xDCFF}));
    EXPECT_THROW(ustring_to_utf8(bytes_to_ustring_escaped("a\xFF")), conversion_error);
    for (const char16_t unit : {0xD800, 0xDC41})
        EXPECT_THROW(ustring_to_bytes_escaped(ustring{unit}), conversion_error);
    const char* name = "QB_I18N_TEST_VARIABLE";
    ScopedVariable variable(name, std::nullopt);
    EXPECT_TRUE(fl::i18n::getenv(name).empty());
    ::setenv(name, "bad\xFFvalue", 1);
    const auto badValue = thrown<conversion_error>([&] { fl::i18n::getenv(name); });
    EXPECT_EQ(badValue.value().offset(), 3u);
    EXPECT_NE(std::string(badValue->what()).find(name), std::string::npos);
}

} // namespace
