#include "InstalledVersion.h"

#include <cstdio>

namespace halvexconnector::tripwireimpl {

int readInstalledVersion(const char* text, unsigned (&parts)[4]) {
    const int read = std::sscanf(text, "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
    // EOF (an empty or blank text) is no number read.
    return read < 0 ? 0 : read;
}

bool isOlderThanRequired(const unsigned (&installed)[4], const std::uint32_t (&required)[4]) {
    for (int part = 0; part < 4; ++part) {
        if (required[part] != installed[part]) {
            return required[part] > installed[part];
        }
    }
    return false;
}

} // namespace halvexconnector::tripwireimpl
