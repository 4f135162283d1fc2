#include "cppmicroservices/Any.h"
#include "cppmicroservices/AnyMap.h"
#include "cppmicroservices/ServiceInterface.h"

#include <gtest/gtest.h>

#include <vector>

namespace halvexconnector::tripwire {
struct ITripwire {
    virtual ~ITripwire() = default;
};
} // namespace halvexconnector::tripwire

namespace {
struct LocalStruct {};
} // namespace

using cppmicroservices::Any;
using cppmicroservices::any_cast;
using cppmicroservices::AnyMap;

TEST(InterfaceId, IsTheDemangledNameWithoutClassOrStructPrefix) {
    EXPECT_EQ(us_service_interface_iid<halvexconnector::tripwire::ITripwire>(),
              "halvexconnector::tripwire::ITripwire");
    EXPECT_EQ(cppmicroservices::detail::GetDemangledName(typeid(LocalStruct)),
              "(anonymous namespace)::LocalStruct");
    EXPECT_TRUE(us_service_interface_iid<void>().empty());
}

TEST(Any, HoldsValuesAndCastsOnlyToTheirType) {
    Any empty;
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(empty.Type(), typeid(void));
    EXPECT_THROW(empty.ToString(), std::logic_error);
    Any text = "literal";
    EXPECT_EQ(text.Type(), typeid(std::string)); // C strings are stored as strings
    EXPECT_EQ(any_cast<std::string>(text), "literal");
    EXPECT_THROW(any_cast<int>(text), cppmicroservices::BadAnyCastException);
    EXPECT_EQ(any_cast<int>(&text), nullptr);
    Any number = 42;
    EXPECT_EQ(number.ToString(), "42");
    EXPECT_TRUE(number == 42);
    EXPECT_FALSE(number == 42L);
    EXPECT_EQ(Any(true).ToString(), "true");
    Any list = std::vector<std::string>{"a", "b"};
    EXPECT_EQ(list.ToString(), "[a,b]");
    Any copy = list;
    EXPECT_TRUE(copy == list);
}

TEST(AnyMap, CaseInsensitiveKindFindsKeysInAnyCaseAndCompoundKeysDescend) {
    AnyMap ci(AnyMap::UNORDERED_MAP_CASEINSENSITIVE_KEYS);
    ci["Service.Ranking"] = 7;
    EXPECT_EQ(ci.count("service.ranking"), 1u);
    EXPECT_EQ(any_cast<int>(ci.at("SERVICE.RANKING")), 7);
    AnyMap exact(AnyMap::ORDERED_MAP);
    exact["Key"] = 1;
    EXPECT_EQ(exact.count("key"), 0u);
    AnyMap inner(AnyMap::ORDERED_MAP);
    inner["leaf"] = std::string("x");
    exact["inner"] = inner;
    exact["list"] = std::vector<Any>{Any(1), Any(2)};
    EXPECT_EQ(any_cast<std::string>(exact.AtCompoundKey("inner.leaf")), "x");
    EXPECT_EQ(any_cast<int>(exact.AtCompoundKey("list.1")), 2);
    EXPECT_THROW(exact.AtCompoundKey("inner.missing"), std::out_of_range);
    EXPECT_TRUE(exact.AtCompoundKey("list.9", Any()).Empty());
}
