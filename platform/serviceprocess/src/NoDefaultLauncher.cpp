#include "DefaultLauncher.h"

namespace halvexconnector::serviceprocess::client_lifetime::detail {

std::optional<fl::filesystem::basic_path> installedLauncher() {
    return std::nullopt;
}

} // namespace halvexconnector::serviceprocess::client_lifetime::detail
