#include "OverrideConversion.h"

#include <fl/filesystem/path_conversion.h>

namespace halvexconnector::folderlocations::detail {

std::optional<std::filesystem::path> toNative(const boost::optional<fl::ustring>& text) {
    if (!text || text->empty())
        return std::nullopt;
    return fl::filesystem::to_native(fl::filesystem::basic_path(*text, true));
}

} // namespace halvexconnector::folderlocations::detail
