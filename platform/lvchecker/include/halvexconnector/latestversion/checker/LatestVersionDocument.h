#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace halvexconnector::latestversion::checker {

/// Where the latest-version document lies below the maker's web domain.
inline constexpr const char* LATEST_DOCUMENT_PATH = "/tripwire/latest.json";

/// The latest-version document: {"version": "...", "url": "...", "sha256": "...", "size": n}.
struct LatestVersionDocument {
    std::string version;
    /// Absolute http or https URL of the archive; empty when no installer is offered.
    std::string url;
    /// Lower-case hex SHA-256 of the archive.
    std::optional<std::string> sha256;
    std::optional<std::uint64_t> size;
};

/// The failure of a latest-version check: server unreachable, HTTP error or malformed document.
class LatestVersionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Parses and validates a document. Throws LatestVersionError naming what is wrong.
LatestVersionDocument parseLatestVersionDocument(const std::string& text);

/// `url` without any fragment, followed by "#sha256=<hex>" when a digest is given and
/// "size=<bytes>" when a size is (the downloader checks free space against it).
std::string withDigestFragment(const std::string& url, const std::optional<std::string>& sha256,
                               const std::optional<std::uint64_t>& size = std::nullopt);

} // namespace halvexconnector::latestversion::checker
