#pragma once

#include "foundation/core/util/lexicographical_iless.h"

#include <map>
#include <string>

namespace foundation::core::process {

/// Variable names to values (UTF-8). Names compare without regard to ASCII case: setting
/// "qb_proxy_host" when "QB_PROXY_HOST" is present replaces the value and keeps the first
/// spelling.
using environment_map = std::map<std::string, std::string, util::lexicographical_iless>;

/// How a process is started: the variables laid over the caller's environment, and whether the
/// process is detached from the caller.
class context {
public:
    context() = default;

    /// Starts empty. At start every entry replaces the caller's variables of the same name in
    /// any case, and is passed under the spelling it has here; the caller's other variables are
    /// inherited unchanged.
    environment_map& environment() noexcept { return variables; }
    const environment_map& environment() const noexcept { return variables; }

    /// A detached process gets a session of its own (no controlling terminal, out of the
    /// caller's process group and its terminal's signals) and /dev/null as standard output and
    /// error, so that it can outlive the caller without holding the caller's pipes open.
    /// An attached process shares the caller's standard output and error. Standard input is
    /// /dev/null for both.
    context& detached_process(bool detached) noexcept {
        detachedFlag = detached;
        return *this;
    }
    bool detached_process() const noexcept { return detachedFlag; }

private:
    environment_map variables;
    bool detachedFlag = false;
};

} // namespace foundation::core::process
