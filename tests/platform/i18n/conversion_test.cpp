#include <fl/i18n/conversion.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using fl::i18n::conversion_error;
using fl::i18n::ustring;
using fl::i18n::ustring_to_utf8;
using fl::i18n::utf8_to_ustring;

TEST(I18nConversion, RoundTripsTextFromEveryPlane) {
    const std::string samples[] = {
        "",
        "plain ascii \x01\x7F",
        "caf\xC3\xA9 \xE2\x82\xAC \xE4\xB8\xAD\xE6\x96\x87", // 2- and 3-byte forms
        "\xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF",                 // U+1F600, U+10FFFF
        std::string("nul\0inside", 10),                      // NUL is a character
        "\xEF\xBF\xBF\xEE\x80\x80",                          // U+FFFF, U+E000 edges
    };
    for (const auto& utf8 : samples) {
        EXPECT_EQ(ustring_to_utf8(utf8_to_ustring(utf8)), utf8);
    }
    EXPECT_EQ(utf8_to_ustring("\xF0\x9F\x98\x80"), (ustring{0xD83D, 0xDE00}));
    EXPECT_EQ(ustring_to_utf8(u"\u00E9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
}

struct BadUtf8 {
    const char* name;
    std::string bytes;
    std::size_t offset;
};

TEST(I18nConversion, RejectsEveryKindOfInvalidUtf8WithItsOffset) {
    const BadUtf8 cases[] = {
        {"lone continuation", "ab\x80", 2},
        {"overlong two-byte", "\xC0\xAF", 0},
        {"overlong C1", "x\xC1\xBF", 1},
        {"overlong three-byte", "\xE0\x80\xAF", 0},
        {"overlong four-byte", "\xF0\x80\x80\xAF", 0},
        {"encoded high surrogate", "\xED\xA0\x80", 0},
        {"encoded low surrogate", "ok\xED\xBF\xBF", 2},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", 0},
        {"F5 lead", "\xF5\x80\x80\x80", 0},
        {"FF byte", "\xFF", 0},
        {"truncated three-byte at end", "abc\xE2\x82", 3},
        {"truncated four-byte at end", "\xF0\x9F\x98", 0},
        {"continuation missing mid-text", "\xE2\x82x", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            utf8_to_ustring(c.bytes);
            ADD_FAILURE() << "accepted";
        } catch (const conversion_error& error) {
            EXPECT_EQ(error.offset(), c.offset);
            EXPECT_NE(std::string(error.what()).find("invalid UTF-8"), std::string::npos);
        }
    }
}

TEST(I18nConversion, RejectsUnpairedSurrogates) {
    const ustring cases[] = {
        ustring{u'a', 0xD800},         // high at the end
        ustring{0xDC00, u'a'},         // low alone
        ustring{0xDE00, 0xD83D},       // reversed pair
        ustring{0xD83D, u'x', 0xDE00}, // pair split by a character
    };
    for (const auto& text : cases) {
        EXPECT_THROW(ustring_to_utf8(text), conversion_error);
    }
}

TEST(I18nConversion, EscapedBytesRoundTripExactlyAndStrictFormsRejectThem) {
    using fl::i18n::detail::bytes_to_ustring_escaped;
    using fl::i18n::detail::ustring_to_bytes_escaped;

    std::mt19937 random(42);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(static_cast<std::size_t>(round % 17), '\0');
        for (auto& b : bytes) {
            b = static_cast<char>(byte(random));
        }
        ASSERT_EQ(ustring_to_bytes_escaped(bytes_to_ustring_escaped(bytes)), bytes);
    }
    // Valid text converts as usual; an invalid byte becomes one escape unit.
    EXPECT_EQ(bytes_to_ustring_escaped("\xC3\xA9"), u"\u00E9");
    EXPECT_EQ(bytes_to_ustring_escaped("a\xFF"), (ustring{u'a', 0xDCFF}));
    EXPECT_THROW(ustring_to_utf8(bytes_to_ustring_escaped("a\xFF")), conversion_error);
    // Surrogates outside the escape range are still errors.
    EXPECT_THROW(ustring_to_bytes_escaped(ustring{0xD800}), conversion_error);
    EXPECT_THROW(ustring_to_bytes_escaped(ustring{0xDC41}), conversion_error);
}

} // namespace
