#pragma once

#include "foundation/core/process/command.h"
#include "foundation/core/process/context.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace foundation::core::process {

/// A started child process.
///
/// Construction starts the program; a program that cannot be started throws std::system_error
/// naming the program and the system's reason. The child inherits no descriptor but 0, 1 and 2,
/// gets default signal dispositions and an empty signal mask.
///
/// A child is never left behind as a zombie: `exit_status` reaps it, and an object destroyed
/// before its child has ended hands the child to a library thread that reaps it when it ends.
/// Destruction neither waits for nor signals the child.
///
/// Several threads may start processes at the same time; one object may be waited on from
/// several threads.
class process {
public:
    process(const command& cmd, const context& ctx);
    ~process();

    process(process&& other) noexcept;
    process& operator=(process&& other) noexcept;
    process(const process&) = delete;
    process& operator=(const process&) = delete;

    pid_t pid() const noexcept;

    /// Waits until the child has ended and returns its exit code; an end by signal N reads as
    /// 128 + N. The code is kept: later calls return it at once.
    std::uint32_t exit_status();

    /// The exit code when the child has ended, without waiting; empty while it runs.
    std::optional<std::uint32_t> try_exit_status();

    /// A descriptor that polls readable once the child has ended (a Linux process descriptor),
    /// or -1 when the system offers none. It belongs to this object and is closed once the child
    /// is reaped.
    int exit_descriptor() const noexcept;

private:
    struct state;
    std::unique_ptr<state> self;
};

} // namespace foundation::core::process
