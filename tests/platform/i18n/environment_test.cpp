#include <fl/i18n/conversion_error.h>
#include <fl/i18n/environment.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

constexpr const char* variable = "QB_I18N_TEST_VARIABLE";

class I18nEnvironment : public ::testing::Test {
protected:
    void TearDown() override { ::unsetenv(variable); }
};

TEST_F(I18nEnvironment, UnsetAndEmptyBothGiveEmpty) {
    ::unsetenv(variable);
    EXPECT_TRUE(fl::i18n::getenv(variable).empty());
    ::setenv(variable, "", 1);
    EXPECT_TRUE(fl::i18n::getenv(variable).empty());
}

TEST_F(I18nEnvironment, ValueIsConvertedFromUtf8) {
    ::setenv(variable, "/home/j\xC3\xBCrgen/\xF0\x9F\x93\x81", 1);
    EXPECT_EQ(fl::i18n::getenv(variable), u"/home/j\u00FCrgen/\U0001F4C1");
}

TEST_F(I18nEnvironment, InvalidValueThrowsNamingTheVariable) {
    ::setenv(variable, "bad\xFFvalue", 1);
    try {
        fl::i18n::getenv(variable);
        FAIL() << "accepted";
    } catch (const fl::i18n::conversion_error& error) {
        EXPECT_NE(std::string(error.what()).find(variable), std::string::npos);
        EXPECT_EQ(error.offset(), 3u);
    }
}

} // namespace
