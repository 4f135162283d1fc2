#include <telx/TelxData.h>

#include <algorithm>
#include <stdexcept>

namespace telx {

void TelxData::setKeyValue(const std::string& key, const std::string& value) {
    if (key.empty()) {
        throw std::invalid_argument("telx: an event key/value pair needs a non-empty key");
    }
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&](const Entry& entry) { return entry.first == key; });
    if (found != entries.end()) {
        found->second = value;
    } else {
        entries.emplace_back(key, value);
    }
}

std::optional<std::string> TelxData::getValue(const std::string& key) const {
    for (const auto& [k, v] : entries) {
        if (k == key) {
            return v;
        }
    }
    return std::nullopt;
}

} // namespace telx
