#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace halvexconnector::latestversion::kciextractor::detail {

/// What "kci.json" at the root of a kci archive says.
struct KciManifest {
    std::string version;
    /// The installer's path inside the archive, as canonical components.
    std::vector<std::string> installer;
};

/// The name of the manifest at the archive's root.
inline constexpr const char* kManifestName = "kci.json";
/// Larger manifests are refused unread.
inline constexpr std::size_t kMaxManifestSize = 64 * 1024;

/// Parses the manifest text. Throws std::invalid_argument, saying what is wrong, when it is not
/// a JSON object with the non-empty strings "version" and "installer", or when the installer's
/// path is not a relative path inside the archive.
KciManifest parseKciManifest(std::string_view text);

} // namespace halvexconnector::latestversion::kciextractor::detail
