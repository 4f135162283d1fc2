#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace telx {

/// The key/value pairs of one event (UTF-8 texts), in the order in which the keys were first set.
class TelxData {
public:
    using Entry = std::pair<std::string, std::string>;

    TelxData() = default;

    /// Adds the pair at the end. Setting a key that is already present replaces its value and
    /// keeps the key at its first position, so an event never carries a key twice.
    /// Throws std::invalid_argument for an empty key.
    void setKeyValue(const std::string& key, const std::string& value);

    const std::vector<Entry>& getEntries() const noexcept { return entries; }
    std::optional<std::string> getValue(const std::string& key) const;
    std::size_t size() const noexcept { return entries.size(); }
    bool empty() const noexcept { return entries.empty(); }

private:
    std::vector<Entry> entries;
};

} // namespace telx
