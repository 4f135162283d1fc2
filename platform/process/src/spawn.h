#pragma once

#include "foundation/core/process/command.h"
#include "foundation/core/process/context.h"

#include <sys/types.h>

namespace foundation::core::process::detail {

/// Starts the child described by `cmd` and `ctx` and returns its id; throws
/// std::invalid_argument for texts that cannot be passed to a program and std::system_error when
/// the program cannot be started.
pid_t spawnChild(const command& cmd, const context& ctx);

/// A process descriptor for the (unreaped) child, or -1 when the kernel offers none.
int openProcessDescriptor(pid_t pid) noexcept;

} // namespace foundation::core::process::detail
