#ifndef DECLARATIVESERVICES_COMPONENTMETADATA_HPP
#define DECLARATIVESERVICES_COMPONENTMETADATA_HPP

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace cppmicroservices::scrimpl {

struct ServiceMetadata {
    std::vector<std::string> interfaces;
    std::string scope = "singleton";
};

/// One component as a bundle's manifest declares it under "scr".
struct ComponentMetadata {
    std::string name; ///< "name", or the implementation class when absent
    std::string implementationClass;
    bool immediate = false;
    bool enabled = true;
    ServiceMetadata service;
};

/// The components of one bundle, and what was wrong with those that were left out.
struct ScrMetadata {
    std::vector<ComponentMetadata> components;
    std::vector<std::string> errors;
};

/// Reads the value of a manifest's "scr" key. A fault in one component drops that component
/// only; a fault in "scr" itself (not an object, unknown version, no component list) drops all.
ScrMetadata ParseScrMetadata(const nlohmann::json& scr);

/// "NewInstance_" / "DeleteInstance_" followed by the class with every "::" replaced by "_".
std::string FactorySymbol(const std::string& implementationClass);
std::string DisposerSymbol(const std::string& implementationClass);

} // namespace cppmicroservices::scrimpl

#endif
