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

int Get(const std::string& event) {
    std::lock_guard guard(lock);
    auto it = counts.find(event);
    return it == counts.end() ? 0 : it->second;
}

void Reset() {
    std::lock_guard guard(lock);
    counts.clear();
}

} // namespace dsprobe
