#pragma once

#include <chrono>

namespace foundation::core::process {

/// Ends every attached (non-detached) child that this library started and that still runs, and
/// refuses to start attached children from now on, for a host that is shutting down.
///
/// Each such child gets SIGTERM; one still running after `grace` gets SIGKILL. The call returns
/// once every one of them has ended (they stay unreaped for their `process` objects to read the
/// exit code, 128 + the signal). From the moment the call begins, constructing an attached
/// `process` throws `std::runtime_error`; detached processes (service hosts meant to outlive the
/// caller) are neither signalled nor refused. There is no way back: call it only on the way out.
///
/// Thread-safe, and safe to call more than once. Not async-signal-safe: call it from an ordinary
/// thread, e.g. one that waits for the shutdown signals with sigwait.
void terminate_children(std::chrono::milliseconds grace = std::chrono::seconds(2));

} // namespace foundation::core::process
