#include "Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace tripwire_host {

std::optional<std::size_t> terminalWidth(int fd) {
    if (::isatty(fd) == 0) {
        return std::nullopt;
    }
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return static_cast<std::size_t>(size.ws_col);
    }
    return 80;
}

} // namespace tripwire_host
