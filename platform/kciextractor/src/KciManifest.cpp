#include "KciManifest.h"

#include "EntryName.h"

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace halvexconnector::latestversion::kciextractor::detail {
namespace {

std::string requiredText(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) {
        throw std::invalid_argument(std::string("no \"") + key + "\"");
    }
    if (!found->is_string() || found->get_ref<const std::string&>().empty()) {
        throw std::invalid_argument(std::string("\"") + key + "\" is not a non-empty string");
    }
    return found->get<std::string>();
}

} // namespace

KciManifest parseKciManifest(std::string_view text) {
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception& error) {
        throw std::invalid_argument(std::string("not JSON (") + error.what() + ")");
    }
    if (!document.is_object()) {
        throw std::invalid_argument("not a JSON object");
    }
    KciManifest manifest;
    manifest.version = requiredText(document, "version");
    const std::string installer = requiredText(document, "installer");
    try {
        manifest.installer = entryComponents(installer);
        if (manifest.installer.empty()) {
            throw std::invalid_argument("no file name");
        }
    } catch (const std::invalid_argument& reason) {
        throw std::invalid_argument("installer path \"" + installer + "\" is unsafe (" +
                                    reason.what() + ")");
    }
    return manifest;
}

} // namespace halvexconnector::latestversion::kciextractor::detail
