#include "ServiceLookup.h"
#include "ModuleTestSupport.h"

#include <fl/i18n/conversion.h>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using namespace tripwire_test;
using agent::spf::externalprocessdiscovery::UserStorageRootOverride;
using halvexconnector::tripwireimpl::getFirstFolderOverride;
using halvexconnector::tripwireimpl::getFolderOverrides;
using halvexconnector::tripwireimpl::getSecondFolderOverride;
using halvexconnector::tripwireimpl::getService;

std::string text(const boost::optional<fl::filesystem::basic_path>& path) {
    return path ? fl::i18n::ustring_to_utf8(path->string()) : "<none>";
}

TEST(ServiceLookup, InterfaceIdIsTheQualifiedName) {
    EXPECT_EQ(halvexconnector::tripwireimpl::serviceInterfaceId<UserStorageRootOverride>(),
              "agent::spf::externalprocessdiscovery::UserStorageRootOverride");
}

TEST(ServiceLookup, WithoutFrameworkEverythingIsEmpty) {
    EXPECT_EQ(getService<UserStorageRootOverride>({}), nullptr);
    EXPECT_EQ(text(getFirstFolderOverride()), "<none>");
    EXPECT_EQ(text(getSecondFolderOverride()), "<none>");
}

TEST(ServiceLookup, WithoutServiceNoOverride) {
    RunningFramework framework;
    EXPECT_EQ(getService<UserStorageRootOverride>({}), nullptr);
    EXPECT_EQ(text(getFirstFolderOverride()), "<none>");
    EXPECT_EQ(text(getSecondFolderOverride()), "<none>");
    EXPECT_EQ(text(getFolderOverrides().first), "<none>");
    EXPECT_EQ(text(getFolderOverrides().second), "<none>");
}

TEST(ServiceLookup, EachOverrideComesFromItsOwnOperation) {
    RunningFramework framework;
    registerOverride(framework, std::make_shared<FixedOverride>("/first", "/second"));
    EXPECT_EQ(text(getFirstFolderOverride()), "/first");
    EXPECT_EQ(text(getSecondFolderOverride()), "/second");
}

TEST(ServiceLookup, AnEmptyPathIsNoOverride) {
    RunningFramework framework;
    registerOverride(framework, std::make_shared<FixedOverride>("", "/second"));
    EXPECT_EQ(text(getFirstFolderOverride()), "<none>");
    EXPECT_EQ(text(getSecondFolderOverride()), "/second");
    // The combined lookup answers as the two do.
    const auto [first, second] = getFolderOverrides();
    EXPECT_EQ(text(first), "<none>");
    EXPECT_EQ(text(second), "/second");
}

TEST(ServiceLookup, FirstRegisteredWinsAndNothingIsCached) {
    RunningFramework framework;
    auto first = registerOverride(framework, std::make_shared<FixedOverride>("/a", "/a2"));
    auto second = registerOverride(framework, std::make_shared<FixedOverride>("/b", "/b2"));
    EXPECT_EQ(text(getFirstFolderOverride()), "/a");
    EXPECT_EQ(text(getSecondFolderOverride()), "/a2");

    // Withdrawn between two calls: the next call sees the remaining service.
    first.Unregister();
    EXPECT_EQ(text(getFirstFolderOverride()), "/b");
    second.Unregister();
    EXPECT_EQ(text(getFirstFolderOverride()), "<none>");
}

TEST(ServiceLookup, FilterSelectsAmongServices) {
    RunningFramework framework;
    registerOverride(framework, std::make_shared<FixedOverride>("/a", ""), "one");
    registerOverride(framework, std::make_shared<FixedOverride>("/b", ""), "two");
    const auto service =
        getService<UserStorageRootOverride>(cppmicroservices::LDAPFilter("(tag=two)"));
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(fl::i18n::ustring_to_utf8(service->firstFolderOverride().string()), "/b");
    EXPECT_EQ(getService<UserStorageRootOverride>(cppmicroservices::LDAPFilter("(tag=three)")),
              nullptr);
}

TEST(ServiceLookup, FailuresOfTheOverrideServicePassToTheCaller) {
    RunningFramework framework;
    registerOverride(framework, std::make_shared<FixedOverride>("", "", true));
    EXPECT_THROW(getFirstFolderOverride(), std::runtime_error);
    EXPECT_THROW(getSecondFolderOverride(), std::runtime_error);
}

} // namespace
