#pragma once

#include <foundation/feature/detail/State.h>

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace foundation::feature::detail {

/// Owns every flag's state record. The process-wide instance is never destroyed, so records stay
/// valid for flags evaluated from static destructors at exit.
class StateRegistry {
public:
    static StateRegistry& instance();

    State* find(const std::string& name);

private:
    StateRegistry() = default;

    std::mutex mutex;
    std::unordered_map<std::string, std::unique_ptr<State>> records;
};

} // namespace foundation::feature::detail
