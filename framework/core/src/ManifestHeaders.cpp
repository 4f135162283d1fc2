#include "ManifestHeaders.h"

#include <climits>
#include <vector>

namespace cppmicroservices {

namespace {
Any HeaderValue(nlohmann::json const& value) {
    switch (value.type()) {
    case nlohmann::json::value_t::object:
        return ManifestHeaders(value);
    case nlohmann::json::value_t::array: {
        std::vector<Any> items;
        for (auto const& item : value) {
            items.push_back(HeaderValue(item));
        }
        return items;
    }
    case nlohmann::json::value_t::string:
        return value.get<std::string>();
    case nlohmann::json::value_t::boolean:
        return value.get<bool>();
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
        if (value >= INT_MIN && value <= INT_MAX) {
            return value.get<int>();
        }
        return value.is_number_unsigned() ? Any(value.get<unsigned long long>())
                                          : Any(value.get<long long>());
    case nlohmann::json::value_t::number_float:
        return value.get<double>();
    default:
        return Any();
    }
}
} // namespace

AnyMap ManifestHeaders(nlohmann::json const& manifest) {
    AnyMap headers(AnyMap::UNORDERED_MAP_CASEINSENSITIVE_KEYS);
    for (auto const& [key, value] : manifest.items()) {
        headers[key] = HeaderValue(value);
    }
    return headers;
}

} // namespace cppmicroservices
