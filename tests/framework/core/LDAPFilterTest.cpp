#include "cppmicroservices/LDAPFilter.h"
#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/LDAPProp.h"

#include <tripwire/testsupport/Thrown.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using namespace cppmicroservices;
using namespace tripwire::testsupport;

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
    props["list"] = std::vector<Any>{std::string("x y"), 7};
    return props;
}

struct FilterCase {
    char const* text;
    bool matches;
    char const* normalised = nullptr; // when it differs from `text`
};

// clang-format off
FilterCase const kFilters[] = {
    // Keys ignore case, values do not; an approximate match ignores case and blanks too.
    {"(vendor=Quill Beck)", true}, {"(vendor=quill beck)", false}, {"(vendor~=quillbeck)", true},
    {"(objectclass=a::IBar)", true}, {"(objectclass=a::IBaz)", false}, {"(service.id=12)", true},
    {"(ranking>=5)", true}, {"(ranking<=10)", true}, {"(ranking>=6)", false},
    {"(ranking=five)", false}, {"(size>=1)", true}, {"(size>=-1)", true}, {"(ratio<=0.75)", true},
    {"(enabled=TRUE)", true}, {"(enabled=false)", false}, {"(vendor<=Rabbit)", true},
    {"(list=7)", true}, {"(list=x*)", true}, {"(vendor=*)", true}, {"(missing=*)", false},
    {"(vendor=Qu*Be*k)", true}, {"(vendor=*Beck)", true}, {"(vendor=*Quill)", false},
    {"(objectclass=*Bar)", true}, {"(vendor=Quill*Quill*)", false}, // parts may not overlap
    // Escaped specials are literal.
    {"(path=a\\*b\\(c\\)\\\\d)", true}, {"(path=a\\*x*)", false}, {"(path=a\\**)", true},
    {"(path=a\\*b(c)\\\\d)", true, "(path=a\\*b\\(c\\)\\\\d)"}, // balanced brackets in a value
    {"(path=(c))", false, "(path=\\(c\\))"},
    {"(&(path=*(c)*)(x=(1)(2)))", false, "(&(path=*\\(c\\)*)(x=\\(1\\)\\(2\\)))"},
    {"(&(vendor=Quill Beck)(ranking=5))", true}, {"(&(vendor=Quill Beck)(ranking=6))", false},
    {"(|(ranking=6)(enabled=true))", true}, {"(!(ranking=6))", true}, {"(!(missing=*))", true},
    {" ( & ( ranking=5) ( ! ( missing=*) ) ) ", true, "(&(ranking=5)(!(missing=*)))"},
    {" ( & (a=1) ( b = x\\*y ) (c=p*q*) ) ", false, "(&(a=1)(b= x\\*y )(c=p*q*))"},
};
// clang-format on

} // namespace

TEST(LDAPFilter, MatchesAndNormalises) {
    for (auto const& c : kFilters) {
        LDAPFilter const filter(c.text);
        std::string const normalised = c.normalised ? c.normalised : c.text;
        EXPECT_EQ(filter.Match(Properties()), c.matches) << c.text;
        EXPECT_EQ(filter.ToString(), normalised) << c.text;
        EXPECT_EQ(LDAPFilter(normalised), filter) << c.text; // the text reads back the same
    }
}

TEST(LDAPFilter, MalformedFiltersAndKeysDifferingOnlyInCaseAreErrorsAndTheDefaultMatchesAll) {
    for (char const* bad : {"", "a=1", "(a=1", "(=1)", "(a)", "(a=1))", "(&)", "(!)", "(a=(b)",
                            "(a=b))", "(a~1)", "(a=1\\", "(a=1)(b=2)"}) {
        EXPECT_THROW(LDAPFilter{bad}, std::invalid_argument) << bad;
    }
    LDAPFilter filter;
    EXPECT_FALSE(filter);
    EXPECT_EQ(filter.ToString(), "");
    EXPECT_TRUE(filter.Match(Properties()));
    EXPECT_TRUE(filter.Match(Bundle()));
    // Two spellings of a key in one map give no single value to match.
    LDAPFilter const vendor("(vendor=Quill Beck)");
    EXPECT_FALSE(vendor.MatchCase(Properties()));
    EXPECT_TRUE(LDAPFilter("(Vendor=Quill Beck)").MatchCase(Properties()));
    AnyMap clash(AnyMap::UNORDERED_MAP);
    clash["hosed"] = std::string("1");
    clash["HOSED"] = std::string("yum");
    for (bool exact : {false, true}) {
        EXPECT_EQ(whatThrown<std::runtime_error>(
                      [&] { exact ? vendor.MatchCase(clash) : vendor.Match(clash); }),
                  "Properties contain case variants of the key: HOSED");
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

TEST(LDAPFilter, PropBuildsFilterText) {
    struct {
        std::string built;
        char const* expected;
    } const cases[] = {
        {LDAPProp("name") == "Ben" && !(LDAPProp("count") == 1), "(&(name=Ben)(!(count=1)))"},
        {LDAPProp("presence") || !LDAPProp("absence"), "(|(presence=*)(!(absence=*)))"},
        {LDAPProp("ge") >= -3 && LDAPProp("le") <= 4.1, "(&(ge>=-3)(le<=4.1))"},
        {LDAPProp("a").Approx(Any(std::string("Hi"))) || LDAPProp("b") != Any(30),
         "(|(a~=Hi)(!(b=30)))"},
        {LDAPProp("t") == true || LDAPProp("f") == false, "(|(t=true)(f=false))"},
        {LDAPProp("k") == std::string() && LDAPProp("p"), "(p=*)"}, // an empty value drops out
        {LDAPProp("v") == "a*(b)\\", "(v=a\\*\\(b\\)\\\\)"},        // values compare literally
    };
    for (auto const& c : cases) {
        EXPECT_EQ(c.built, c.expected);
        EXPECT_EQ(LDAPFilter(c.built).ToString(), c.expected);
    }
    LDAPPropExpr expr = LDAPProp("x") == 1;
    expr &= LDAPProp("y") == 2;
    expr |= LDAPProp("z");
    EXPECT_EQ(std::string(expr), "(|(&(x=1)(y=2))(z=*))");
    EXPECT_THROW(LDAPProp(""), std::invalid_argument);
}
