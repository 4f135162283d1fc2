#pragma once

#include <agent/spf/externalprocessdiscovery/UserStorageRootOverride.h>

#include <optional>
#include <string>

namespace tripwire_host {

// The folder overrides given on the command line, offered to the module as the agent
// software's override service would offer them. An option not given reads as no override.
class FolderOverrideService : public agent::spf::externalprocessdiscovery::UserStorageRootOverride {
public:
    FolderOverrideService(std::optional<std::string> firstFolder,
                          std::optional<std::string> secondFolder)
        : first(std::move(firstFolder)), second(std::move(secondFolder)) {}

    std::string description() const override { return "tripwire command line"; }
    fl::filesystem::basic_path firstFolderOverride() const override { return asPath(first); }
    fl::filesystem::basic_path secondFolderOverride() const override { return asPath(second); }

private:
    static fl::filesystem::basic_path asPath(const std::optional<std::string>& folder);

    std::optional<std::string> first;
    std::optional<std::string> second;
};

} // namespace tripwire_host
