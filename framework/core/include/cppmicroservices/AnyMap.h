#ifndef CPPMICROSERVICES_ANYMAP_H
#define CPPMICROSERVICES_ANYMAP_H

#include "cppmicroservices/Any.h"

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>

namespace cppmicroservices {

namespace detail {
/// Orders keys exactly or ignoring ASCII case, chosen per map.
struct US_Framework_EXPORT AnyMapKeyLess {
    bool caseInsensitive = false;
    bool operator()(std::string const& l, std::string const& r) const;
};
} // namespace detail

/// A string-keyed map of Any values whose keys may be compared without regard to
/// case. All three map kinds keep their entries in key order.
class US_Framework_EXPORT any_map {
    using storage = std::map<std::string, Any, detail::AnyMapKeyLess>;

public:
    using key_type = std::string;
    using mapped_type = Any;
    using value_type = std::pair<key_type const, mapped_type>;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = value_type&;
    using const_reference = value_type const&;
    using pointer = value_type*;
    using const_pointer = value_type const*;
    using ordered_any_map = std::map<std::string, Any>;
    using unordered_any_map = std::unordered_map<std::string, Any>;
    using iterator = storage::iterator;
    using const_iterator = storage::const_iterator;

    enum map_type : uint8_t { ORDERED_MAP, UNORDERED_MAP, UNORDERED_MAP_CASEINSENSITIVE_KEYS };

    explicit any_map(map_type type);
    any_map(ordered_any_map const& m);
    any_map(ordered_any_map&& m);
    any_map(unordered_any_map const& m);
    any_map(unordered_any_map&& m);
    any_map(any_map const&) = default;
    any_map(any_map&&) noexcept = default;
    any_map& operator=(any_map const&) = default;
    any_map& operator=(any_map&&) noexcept = default;
    ~any_map() = default;

    iterator begin() { return m.begin(); }
    const_iterator begin() const { return m.begin(); }
    const_iterator cbegin() const { return m.cbegin(); }
    iterator end() { return m.end(); }
    const_iterator end() const { return m.end(); }
    const_iterator cend() const { return m.cend(); }

    bool empty() const { return m.empty(); }
    size_type size() const { return m.size(); }
    size_type count(key_type const& key) const { return m.count(key); }
    void clear() { m.clear(); }

    mapped_type& at(key_type const& key) { return m.at(key); }
    mapped_type const& at(key_type const& key) const { return m.at(key); }
    mapped_type& operator[](key_type const& key) { return m[key]; }
    mapped_type& operator[](key_type&& key) { return m[std::move(key)]; }

    std::pair<iterator, bool> insert(value_type const& value) { return m.insert(value); }
    template <class... Args> std::pair<iterator, bool> emplace(Args&&... args) {
        return m.emplace(std::forward<Args>(args)...);
    }

    iterator find(key_type const& key) { return m.find(key); }
    const_iterator find(key_type const& key) const { return m.find(key); }
    size_type erase(key_type const& key) { return m.erase(key); }

    map_type GetType() const { return type; }

    bool operator==(any_map const& rhs) const;
    bool operator!=(any_map const& rhs) const { return !(*this == rhs); }

private:
    map_type type;
    storage m;
};

/// any_map plus lookup of nested values by dotted keys ("a.b.c").
class US_Framework_EXPORT AnyMap : public any_map {
public:
    explicit AnyMap(map_type type);
    AnyMap(ordered_any_map const& m);
    AnyMap(ordered_any_map&& m);
    AnyMap(unordered_any_map const& m);
    AnyMap(unordered_any_map&& m);

    /// The value at a dotted key; a segment may index into a map or a vector.
    /// Throws std::out_of_range when a segment is missing.
    mapped_type const& AtCompoundKey(key_type const& key) const;
    /// As above, but `defaultValue` when the key is missing.
    mapped_type AtCompoundKey(key_type const& key, mapped_type defaultValue) const noexcept;
};

US_Framework_EXPORT std::ostream& operator<<(std::ostream& os, any_map const& m);

} // namespace cppmicroservices

#endif
