#pragma once

#include <cstddef>
#include <optional>

namespace tripwire_host {

// The width in columns of the terminal on `fd`; none when `fd` is no terminal. A terminal that
// does not tell its width counts as 80 columns wide.
std::optional<std::size_t> terminalWidth(int fd);

} // namespace tripwire_host
