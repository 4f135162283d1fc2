#include "EntryName.h"

#include <stdexcept>

namespace halvexconnector::latestversion::kciextractor::detail {

std::vector<std::string> entryComponents(std::string_view name) {
    if (name.empty()) {
        throw std::invalid_argument("empty name");
    }
    if (name.front() == '/') {
        throw std::invalid_argument("absolute path");
    }
    if (name.find('\\') != std::string_view::npos) {
        throw std::invalid_argument("backslash in name");
    }
    std::vector<std::string> components;
    std::size_t begin = 0;
    while (begin <= name.size()) {
        const std::size_t end = std::min(name.find('/', begin), name.size());
        const std::string_view component = name.substr(begin, end - begin);
        if (component == "..") {
            throw std::invalid_argument("'..' component");
        }
        if (!component.empty() && component != ".") {
            components.emplace_back(component);
        }
        begin = end + 1;
    }
    return components;
}

std::string joinComponents(const std::vector<std::string>& components) {
    std::string joined;
    for (const auto& component : components) {
        if (!joined.empty()) {
            joined += '/';
        }
        joined += component;
    }
    return joined;
}

} // namespace halvexconnector::latestversion::kciextractor::detail
