#include "ComponentMetadata.hpp"

#include <set>
#include <stdexcept>

namespace cppmicroservices::scrimpl {

namespace {

using nlohmann::json;

bool optionalBool(const json& obj, const char* key, bool fallback) {
    auto it = obj.find(key);
    if (it == obj.end()) {
        return fallback;
    }
    if (!it->is_boolean()) {
        throw std::invalid_argument(std::string("\"") + key + "\" must be true or false");
    }
    return it->get<bool>();
}

std::string requiredString(const json& obj, const char* key) {
    auto it = obj.find(key);
    if (it == obj.end() || !it->is_string() || it->get<std::string>().empty()) {
        throw std::invalid_argument(std::string("\"") + key + "\" must be a non-empty string");
    }
    return it->get<std::string>();
}

ServiceMetadata parseService(const json& service) {
    if (!service.is_object()) {
        throw std::invalid_argument("\"service\" must be an object");
    }
    ServiceMetadata meta;
    auto interfaces = service.find("interfaces");
    if (interfaces == service.end() || !interfaces->is_array() || interfaces->empty()) {
        throw std::invalid_argument("\"service\" needs a non-empty \"interfaces\" array");
    }
    for (const auto& iface : *interfaces) {
        if (!iface.is_string() || iface.get<std::string>().empty()) {
            throw std::invalid_argument("each of \"interfaces\" must be a non-empty string");
        }
        meta.interfaces.push_back(iface.get<std::string>());
    }
    if (service.contains("scope")) {
        meta.scope = requiredString(service, "scope");
    }
    // Only shared instances are managed: one object for every requester.
    if (meta.scope != "singleton") {
        throw std::invalid_argument("service scope \"" + meta.scope + "\" is not supported");
    }
    return meta;
}

ComponentMetadata parseComponent(const json& comp) {
    if (!comp.is_object()) {
        throw std::invalid_argument("a component must be an object");
    }
    ComponentMetadata meta;
    meta.implementationClass = requiredString(comp, "implementation-class");
    meta.name = comp.contains("name") ? requiredString(comp, "name") : meta.implementationClass;
    // Nothing would be bound, so the object would see none of the services it asked for.
    if (auto refs = comp.find("references");
        refs != comp.end() && !(refs->is_array() && refs->empty())) {
        throw std::invalid_argument("service references are not supported");
    }
    // Every failure to create a component is reported through its service's factory, so a
    // component without a service would fail unheard.
    auto service = comp.find("service");
    if (service == comp.end()) {
        throw std::invalid_argument("components without a \"service\" are not supported");
    }
    meta.service = parseService(*service);
    meta.immediate = optionalBool(comp, "immediate", false);
    meta.enabled = optionalBool(comp, "enabled", true);
    return meta;
}

std::string mangle(const std::string& implementationClass) {
    std::string out;
    for (size_t i = 0; i < implementationClass.size(); ++i) {
        if (implementationClass.compare(i, 2, "::") == 0) {
            out += '_';
            ++i;
        } else {
            out += implementationClass[i];
        }
    }
    return out;
}

} // namespace

ScrMetadata ParseScrMetadata(const json& scr) {
    ScrMetadata result;
    if (!scr.is_object()) {
        result.errors.emplace_back("\"scr\" must be an object");
        return result;
    }
    auto version = scr.find("version");
    if (version == scr.end() || !version->is_number_integer() || version->get<long long>() != 1) {
        result.errors.emplace_back("\"scr\" needs \"version\": 1");
        return result;
    }
    auto components = scr.find("components");
    if (components == scr.end() || !components->is_array()) {
        result.errors.emplace_back("\"scr\" needs a \"components\" array");
        return result;
    }
    std::set<std::string> names;
    for (size_t i = 0; i < components->size(); ++i) {
        try {
            auto meta = parseComponent((*components)[i]);
            if (!names.insert(meta.name).second) {
                throw std::invalid_argument("another component is already named \"" + meta.name +
                                            "\"");
            }
            result.components.push_back(std::move(meta));
        } catch (const std::exception& e) {
            result.errors.push_back("component " + std::to_string(i) + ": " + e.what());
        }
    }
    return result;
}

std::string FactorySymbol(const std::string& implementationClass) {
    return "NewInstance_" + mangle(implementationClass);
}

std::string DisposerSymbol(const std::string& implementationClass) {
    return "DeleteInstance_" + mangle(implementationClass);
}

} // namespace cppmicroservices::scrimpl
