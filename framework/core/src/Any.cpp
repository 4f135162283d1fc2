#include "cppmicroservices/Any.h"
#include "cppmicroservices/AnyMap.h"

#include <cctype>
#include <cstdlib>
#include <cxxabi.h>
#include <stdexcept>

namespace cppmicroservices {

namespace detail {

std::string GetDemangledName(std::type_info const& typeInfo) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(typeInfo.name(), nullptr, nullptr, &status);
    if (status != 0 || demangled == nullptr) {
        std::free(demangled);
        return typeInfo.name();
    }
    std::string name(demangled);
    std::free(demangled);
    return name;
}

bool AnyMapKeyLess::operator()(std::string const& l, std::string const& r) const {
    if (!caseInsensitive) {
        return l < r;
    }
    std::size_t const n = std::min(l.size(), r.size());
    for (std::size_t i = 0; i < n; ++i) {
        int const a = std::tolower(static_cast<unsigned char>(l[i]));
        int const b = std::tolower(static_cast<unsigned char>(r[i]));
        if (a != b) {
            return a < b;
        }
    }
    return l.size() < r.size();
}

} // namespace detail

BadAnyCastException::BadAnyCastException(std::string msg) : _msg(std::move(msg)) {}
BadAnyCastException::~BadAnyCastException() = default;
char const* BadAnyCastException::what() const noexcept {
    return _msg.c_str();
}

std::string Any::ToString() const {
    if (Empty()) {
        throw std::logic_error("empty any");
    }
    std::ostringstream os;
    _content->Write(os);
    return os.str();
}

std::string Any::ToStringNoExcept() const {
    return Empty() ? std::string("Any[empty]") : ToString();
}

std::string Any::ToJSON(bool) const {
    if (Empty()) {
        return "null";
    }
    if (Type() == typeid(std::string)) {
        std::string out = "\"";
        for (char c : *any_cast<std::string>(this)) {
            if (c == '"' || c == '\\') {
                out += '\\';
            }
            out += c;
        }
        return out + "\"";
    }
    return ToString();
}

bool Any::operator==(Any const& rhs) const {
    if (Empty() || rhs.Empty()) {
        return Empty() && rhs.Empty();
    }
    return _content->Equals(*rhs._content);
}

std::ostream& operator<<(std::ostream& os, Any const& any) {
    return os << any.ToStringNoExcept();
}

namespace {
detail::AnyMapKeyLess LessFor(any_map::map_type type) {
    return detail::AnyMapKeyLess{type == any_map::UNORDERED_MAP_CASEINSENSITIVE_KEYS};
}
} // namespace

any_map::any_map(map_type t) : type(t), m(LessFor(t)) {}
any_map::any_map(ordered_any_map const& src)
    : type(ORDERED_MAP), m(src.begin(), src.end(), LessFor(ORDERED_MAP)) {}
any_map::any_map(ordered_any_map&& src) : type(ORDERED_MAP), m(LessFor(ORDERED_MAP)) {
    for (auto& [k, v] : src) {
        m.emplace(k, std::move(v));
    }
}
any_map::any_map(unordered_any_map const& src)
    : type(UNORDERED_MAP), m(src.begin(), src.end(), LessFor(UNORDERED_MAP)) {}
any_map::any_map(unordered_any_map&& src) : type(UNORDERED_MAP), m(LessFor(UNORDERED_MAP)) {
    for (auto& [k, v] : src) {
        m.emplace(k, std::move(v));
    }
}

bool any_map::operator==(any_map const& rhs) const {
    if (size() != rhs.size()) {
        return false;
    }
    for (auto const& [k, v] : m) {
        auto it = rhs.find(k);
        if (it == rhs.end() || !(it->second == v)) {
            return false;
        }
    }
    return true;
}

std::ostream& operator<<(std::ostream& os, any_map const& m) {
    os << '{';
    bool first = true;
    for (auto const& [k, v] : m) {
        os << (first ? "" : ", ") << k << " : " << v;
        first = false;
    }
    return os << '}';
}

AnyMap::AnyMap(map_type type) : any_map(type) {}
AnyMap::AnyMap(ordered_any_map const& m) : any_map(m) {}
AnyMap::AnyMap(ordered_any_map&& m) : any_map(std::move(m)) {}
AnyMap::AnyMap(unordered_any_map const& m) : any_map(m) {}
AnyMap::AnyMap(unordered_any_map&& m) : any_map(std::move(m)) {}

namespace {
Any const& Step(Any const& current, std::string const& segment) {
    if (auto const* map = any_cast<AnyMap>(&current)) {
        return map->at(segment);
    }
    if (auto const* vec = any_cast<std::vector<Any>>(&current)) {
        char* end = nullptr;
        unsigned long const index = std::strtoul(segment.c_str(), &end, 10);
        if (segment.empty() || *end != '\0') {
            throw std::out_of_range("not an index: " + segment);
        }
        return vec->at(index);
    }
    throw std::out_of_range("cannot descend into a value at '" + segment + "'");
}
} // namespace

Any const& AnyMap::AtCompoundKey(key_type const& key) const {
    auto const dot = key.find('.');
    Any const& first = at(key.substr(0, dot));
    if (dot == std::string::npos) {
        return first;
    }
    Any const* current = &first;
    std::size_t pos = dot + 1;
    while (true) {
        auto const next = key.find('.', pos);
        current = &Step(
            *current, key.substr(pos, next == std::string::npos ? std::string::npos : next - pos));
        if (next == std::string::npos) {
            return *current;
        }
        pos = next + 1;
    }
}

Any AnyMap::AtCompoundKey(key_type const& key, mapped_type defaultValue) const noexcept {
    try {
        return AtCompoundKey(key);
    } catch (...) {
        return defaultValue;
    }
}

} // namespace cppmicroservices
