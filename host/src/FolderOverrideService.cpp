#include "FolderOverrideService.h"

#include <fl/i18n/conversion.h>

namespace tripwire_host {

fl::filesystem::basic_path FolderOverrideService::asPath(const std::optional<std::string>& folder) {
    if (!folder) {
        return {};
    }
    return fl::filesystem::basic_path(fl::i18n::utf8_to_ustring(*folder), true);
}

} // namespace tripwire_host
