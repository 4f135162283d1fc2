#include "agent/control/AgentDiscovery.h"
#include "agent/control/AgentRegistration.h"

#include "support/ScratchSpace.h"

#include <fl/filesystem/path_conversion.h>

#include <gtest/gtest.h>

namespace agent::control {
namespace {

TEST(AgentRegistryDiscovery, EmptyLockRootPathGivesEmptyList) {
    EXPECT_TRUE(enumerateAllRunningAgents(fl::filesystem::basic_path(), 3).empty());
    EXPECT_FALSE(isAnyAgentRunning(fl::filesystem::basic_path(), 3));
}

TEST(AgentRegistryDiscovery, FindsAgentsUnderAPathWithNonAsciiAndBackslashes) {
    qbtest::TempDirectory scratch;
    const auto root = scratch / "Übersicht" / "locks";
    AgentRegistration agent(root, "Agent");
    // The module hands over whatever text the folder locations gave; '\' is a separator there.
    const auto text = fl::filesystem::path_from_native(root).string();
    std::u16string windowsStyle = text;
    for (auto& c : windowsStyle)
        if (c == u'/')
            c = u'\\';
    for (const auto& form : {text, windowsStyle}) {
        const auto agents = enumerateAllRunningAgents(fl::filesystem::basic_path(form, true), 3);
        ASSERT_EQ(agents.size(), 1u);
        EXPECT_EQ(agents[0].name, "Agent");
        EXPECT_EQ(agents[0].pid, ::getpid());
        EXPECT_TRUE(isAnyAgentRunning(fl::filesystem::basic_path(form, true), 3));
    }
}

} // namespace
} // namespace agent::control
