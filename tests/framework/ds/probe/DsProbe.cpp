#include "DsProbe.hpp"

#include <map>
#include <mutex>

namespace dsprobe {

namespace {
std::mutex lock;
std::map<std::string, int> counts;
std::map<std::string, std::string> values;
} // namespace

void Count(const std::string& event) {
    std::lock_guard guard(lock);
    ++counts[event];
}

int Get(const std::string& event) {
    std::lock_guard guard(lock);
    auto it = counts.find(event);
    return it == counts.end() ? 0 : it->second;
}

void Record(const std::string& key, const std::string& value) {
    std::lock_guard guard(lock);
    values[key] = value;
}

std::string Recorded(const std::string& key) {
    std::lock_guard guard(lock);
    auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
}

void Reset() {
    std::lock_guard guard(lock);
    counts.clear();
    values.clear();
}

} // namespace dsprobe
