#ifndef CPPMICROSERVICES_SRC_PROPERTIESCHECK_H
#define CPPMICROSERVICES_SRC_PROPERTIESCHECK_H

#include <algorithm>
#include <cctype>
#include <string>
#include <unordered_map>

namespace cppmicroservices {

/// The first key (in the map's order) that another key of `map` equals but for
/// ASCII case, or null. Keys are looked up without regard to case, so such a map
/// has no single answer for either key.
template <class Map> std::string const* CaseVariantKey(Map const& map) {
    std::unordered_map<std::string, std::string const*> seen;
    for (auto const& entry : map) {
        std::string lower = entry.first;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        auto const [it, fresh] = seen.emplace(std::move(lower), &entry.first);
        if (!fresh) {
            return it->second;
        }
    }
    return nullptr;
}

/// The text the framework reports for such a key.
inline std::string CaseVariantMessage(std::string const& key) {
    return "Properties contain case variants of the key: " + key;
}

} // namespace cppmicroservices

#endif
