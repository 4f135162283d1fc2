#pragma once

#include <sys/types.h>

namespace foundation::core::process::detail {

/// Hands a child that is still running to the library's reaper thread, which waits for it in
/// the background so that it never stays a zombie. Takes ownership of `descriptor` (a process
/// descriptor of the child, or -1). Never blocks and never throws.
void adoptChild(pid_t pid, int descriptor) noexcept;

} // namespace foundation::core::process::detail
