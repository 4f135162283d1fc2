#include "ComponentMetadata.hpp"

#include <gtest/gtest.h>

using cppmicroservices::scrimpl::ParseScrMetadata;
using nlohmann::json;

namespace {

json scrWith(json components) {
    return json{{"version", 1}, {"components", std::move(components)}};
}

// Valid metadata, with defaults and flags, is what the runtime tests' bundles declare.
TEST(ComponentMetadata, ABadComponentIsDroppedAndTheOthersKept) {
    const json svc = {{"interfaces", {"I"}}};
    auto meta = ParseScrMetadata(scrWith(json::array({
        {{"implementation-class", "Good"}, {"name", "good"}, {"service", svc}},
        {{"name", "no class"}, {"service", svc}},
        {{"implementation-class", ""}},
        {{"implementation-class", "S"}, {"service", {{"interfaces", json::array()}}}},
        {{"implementation-class", "S"}, {"service", {{"interfaces", {"I"}}, {"scope", "bundle"}}}},
        {{"implementation-class", "S"}, {"service", {{"interfaces", {42}}}}},
        {{"implementation-class", "S"}, {"enabled", "yes"}, {"service", svc}},
        {{"implementation-class", "R"}, {"references", {{{"name", "r"}}}}, {"service", svc}},
        {{"implementation-class", "Other"}, {"name", "good"}, {"service", svc}},
        {{"implementation-class", "NoService"}},
        "not an object",
    })));
    ASSERT_EQ(meta.components.size(), 1u);
    EXPECT_EQ(meta.components[0].name, "good");
    ASSERT_EQ(meta.errors.size(), 10u);
    // Errors say which component and why, so the bundle's author can find the fault.
    EXPECT_NE(meta.errors[0].find("component 1"), std::string::npos);
    EXPECT_NE(meta.errors[0].find("implementation-class"), std::string::npos);
    EXPECT_NE(meta.errors[3].find("bundle"), std::string::npos);
    EXPECT_NE(meta.errors[7].find("already named"), std::string::npos);
}

} // namespace
