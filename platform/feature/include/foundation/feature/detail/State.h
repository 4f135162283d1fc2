#pragma once

#include <string>

namespace foundation::feature::detail {

class StateRegistry;

/// The library's record of one flag: one per flag name, created on first request and kept (at
/// the same address) until the process ends, so flag objects may cache a pointer to it.
class State {
public:
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    const std::string& getName() const noexcept { return name; }

private:
    friend class StateRegistry;
    explicit State(std::string name);

    const std::string name;
};

} // namespace foundation::feature::detail
