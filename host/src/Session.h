#pragma once

#include "HostFramework.h"
#include "InstallTree.h"

#include "halvexconnector/tripwire/Enumerations.h"

#include <memory>

namespace tripwire_host {

// What every subcommand gets: the chosen mode and, on first use, the framework with the module.
class Session {
public:
    Session(InstallTree tree, halvexconnector::tripwire::HALVEXServicesMode mode)
        : tree(std::move(tree)), chosenMode(mode) {}

    halvexconnector::tripwire::HALVEXServicesMode mode() const { return chosenMode; }
    HostFramework& framework() {
        if (!host) {
            host = std::make_unique<HostFramework>(tree);
        }
        return *host;
    }

private:
    InstallTree tree;
    halvexconnector::tripwire::HALVEXServicesMode chosenMode;
    std::unique_ptr<HostFramework> host;
};

} // namespace tripwire_host
