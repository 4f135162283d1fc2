#include "cppmicroservices/LDAPFilter.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using cppmicroservices::Any;
using cppmicroservices::AnyMap;
using cppmicroservices::LDAPFilter;

namespace {

AnyMap Properties() {
    AnyMap props(AnyMap::ORDERED_MAP);
    props["objectclass"] = std::vector<std::string>{"a::IFoo", "a::IBar"};
    props["Vendor"] = std::string("Quill Beck");
    props["service.id"] = 12L;
    props["ranking"] = 5;
    props["size"] = 2u;
    props["ratio"] = 0.5;
    props["enabled"] = true;
    props["path"] = std::string("a*b(c)\\d");
    return props;
}

bool Matches(std::string const& filter) {
    return LDAPFilter(filter).Match(Properties());
}

} // namespace

TEST(LDAPFilter, DefaultFilterMatchesEverythingAndHasNoText) {
    LDAPFilter filter;
    EXPECT_FALSE(filter);
    EXPECT_EQ(filter.ToString(), "");
    EXPECT_TRUE(filter.Match(Properties()));
    EXPECT_TRUE(filter.Match(AnyMap(AnyMap::ORDERED_MAP)));
}

TEST(LDAPFilter, ComparesStringsNumbersBoolsAndLists) {
    EXPECT_TRUE(Matches("(vendor=Quill Beck)"));  // keys ignore case
    EXPECT_FALSE(Matches("(vendor=quill beck)")); // values do not
    EXPECT_TRUE(Matches("(vendor~=quillbeck)"));  // approximate: no case, no blanks
    EXPECT_TRUE(Matches("(objectclass=a::IBar)"));
    EXPECT_FALSE(Matches("(objectclass=a::IBaz)"));
    EXPECT_TRUE(Matches("(service.id=12)"));
    EXPECT_TRUE(Matches("(ranking>=5)"));
    EXPECT_TRUE(Matches("(ranking<=10)"));
    EXPECT_FALSE(Matches("(ranking>=6)"));
    EXPECT_FALSE(Matches("(ranking=five)"));
    EXPECT_TRUE(Matches("(size>=1)"));
    EXPECT_TRUE(Matches("(ratio<=0.75)"));
    EXPECT_TRUE(Matches("(enabled=TRUE)"));
    EXPECT_FALSE(Matches("(enabled=false)"));
    EXPECT_TRUE(Matches("(vendor<=Rabbit)"));
}

TEST(LDAPFilter, PresenceSubstringsAndEscapes) {
    EXPECT_TRUE(Matches("(vendor=*)"));
    EXPECT_FALSE(Matches("(missing=*)"));
    EXPECT_TRUE(Matches("(vendor=Qu*Be*k)"));
    EXPECT_TRUE(Matches("(vendor=*Beck)"));
    EXPECT_TRUE(Matches("(vendor=Quill*)"));
    EXPECT_FALSE(Matches("(vendor=*Quill)"));
    EXPECT_FALSE(Matches("(vendor=Quill*Quill*)")); // parts may not overlap
    EXPECT_TRUE(Matches("(objectclass=*Bar)"));
    EXPECT_TRUE(Matches("(path=a\\*b\\(c\\)\\\\d)")); // escaped specials are literal
    EXPECT_FALSE(Matches("(path=a\\*x*)"));
    EXPECT_TRUE(Matches("(path=a\\**)"));
}

TEST(LDAPFilter, CombinesTermsAndIgnoresBlanksBetweenThem) {
    EXPECT_TRUE(Matches("(&(vendor=Quill Beck)(ranking=5))"));
    EXPECT_FALSE(Matches("(&(vendor=Quill Beck)(ranking=6))"));
    EXPECT_TRUE(Matches("(|(ranking=6)(enabled=true))"));
    EXPECT_TRUE(Matches("(!(ranking=6))"));
    EXPECT_TRUE(Matches("(!(missing=*))"));
    EXPECT_TRUE(Matches(" ( & ( ranking=5 ) ( ! ( missing=* ) ) ) "));
}

TEST(LDAPFilter, ToStringIsNormalisedAndRoundTrips) {
    LDAPFilter filter(" ( & (a=1) ( b = x\\*y ) (c=p*q*) (!(d=*)) ) ");
    EXPECT_EQ(filter.ToString(), "(&(a=1)(b= x\\*y )(c=p*q*)(!(d=*)))");
    EXPECT_EQ(LDAPFilter(filter.ToString()).ToString(), filter.ToString());
    EXPECT_TRUE(LDAPFilter("(a=1)") == LDAPFilter("( a=1)"));
}

TEST(LDAPFilter, MalformedFiltersAreRejected) {
    for (char const* bad : {"", "a=1", "(a=1", "(=1)", "(a)", "(a=1))", "(&)", "(!)", "(a=(b))",
                            "(a~1)", "(a=1\\", "(a=1)(b=2)"}) {
        EXPECT_THROW(LDAPFilter{bad}, std::invalid_argument) << bad;
    }
}

// Each level costs stack in parsing, matching and printing: a hostile depth must be refused, not
// overflow the stack.
TEST(LDAPFilter, NestingIsBounded) {
    auto nested = [](std::size_t levels) {
        std::string text;
        for (std::size_t i = 0; i < levels; ++i) {
            text += "(!";
        }
        text += "(a=1)";
        return text + std::string(levels, ')');
    };
    LDAPFilter accepted(nested(127));
    EXPECT_TRUE(accepted.Match(Properties())); // an odd number of negations of a miss
    EXPECT_EQ(LDAPFilter(accepted.ToString()).ToString(), accepted.ToString());
    EXPECT_THROW(LDAPFilter{nested(128)}, std::invalid_argument);
    EXPECT_THROW(LDAPFilter{nested(100000)}, std::invalid_argument);
}

TEST(LDAPFilter, MatchCaseComparesKeysExactly) {
    LDAPFilter filter("(vendor=Quill Beck)");
    EXPECT_TRUE(filter.Match(Properties()));
    EXPECT_FALSE(filter.MatchCase(Properties()));
    EXPECT_TRUE(LDAPFilter("(Vendor=Quill Beck)").MatchCase(Properties()));
}
