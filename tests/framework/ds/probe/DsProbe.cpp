#include "DsProbe.hpp"

#include <map>
#include <mutex>

namespace dsprobe {

namespace {
std::mutex lock;
std::map<std::string, int> counts;
} // namespace

void Count(const std::string& event) {
    std::lock_guard guard(lock);
    ++counts[event];
}

std::string Summary(const std::string& owner) {
    std::lock_guard guard(lock);
    std::string text;
    for (const auto& [event, count] : counts)
        if (event.starts_with(owner + "."))
            text += (text.empty() ? "" : " ") + event.substr(owner.size() + 1) + ":" +
                    std::to_string(count);
    return text;
}

void Reset() {
    std::lock_guard guard(lock);
    counts.clear();
}

} // namespace dsprobe
