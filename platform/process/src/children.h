#pragma once

#include "foundation/core/process/command.h"
#include "foundation/core/process/context.h"

#include <sys/types.h>

namespace foundation::core::process::detail {

/// Starts a child like spawnChild and, when it is attached, lists it as one of the children that
/// terminate_children ends. Throws std::runtime_error for an attached child once
/// terminate_children has been called.
pid_t launchChild(const command& cmd, const context& ctx);

/// Takes a reaped child off the list (a no-op for children never listed). Never throws.
void forgetChild(pid_t pid) noexcept;

} // namespace foundation::core::process::detail
