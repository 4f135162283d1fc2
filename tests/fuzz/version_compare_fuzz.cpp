// Input: the required version (four 32-bit numbers, 16 bytes), then the installed version text.
#include "FuzzSupport.h"
#include "InstalledVersion.h"

#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace impl = halvexconnector::tripwireimpl;
    using tripwire_fuzz::violation;
    std::uint32_t required[4] = {};
    const std::size_t head = std::min<std::size_t>(size, sizeof required);
    std::memcpy(required, data, head);
    const std::string text(reinterpret_cast<const char*>(data) + head, size - head);
    unsigned installed[4] = {};
    const int read = impl::readInstalledVersion(text.c_str(), installed);
    if (read < 0 || read > 4)
        violation("an impossible count of numbers read");
    if (read != 4)
        return 0;
    const bool older = impl::isOlderThanRequired(installed, required);
    if (older != std::lexicographical_compare(installed, installed + 4, required, required + 4))
        violation("the comparison is not the lexicographic order of the four numbers");
    char canonical[64];
    std::snprintf(canonical, sizeof canonical, "%u.%u.%u.%u", installed[0], installed[1],
                  installed[2], installed[3]);
    unsigned again[4] = {};
    if (impl::readInstalledVersion(canonical, again) != 4 ||
        !std::equal(again, again + 4, installed))
        violation("a canonical version text does not read back as itself");
    return 0;
}
