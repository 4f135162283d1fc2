#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace halvexconnector::latestversion::kcidownloader {

/// The parts of a download URL that the downloader acts on.
struct DownloadUrl {
    std::string scheme;                ///< lower case
    std::string host;                  ///< lower case, IPv6 without brackets
    std::string location;              ///< the URL without its fragment: what is requested
    std::string fileName;              ///< the sanitised last path segment
    std::optional<std::string> sha256; ///< lower-case hex, from a "sha256=" fragment
    std::optional<std::uint64_t> size; ///< the announced length, from a "size=" fragment
};

/// Splits an absolute http or https URL. Throws DownloadError (INVALID_URL) otherwise, and for
/// a "sha256" fragment value that is not 64 hex digits or a "size" one that is not a decimal.
DownloadUrl parseDownloadUrl(const std::string& url);

/// True for "localhost", 127.0.0.0/8, ::1 and IPv4-mapped loopback addresses.
bool isLoopbackHost(const std::string& host);

/// A file name for the archive from a raw (percent-encoded) path segment: decoded, with
/// separators and control characters replaced and leading dots removed, so that it always
/// names an entry inside the download directory; "kci.zip" when nothing usable remains.
std::string sanitiseFileName(const std::string& segment);

} // namespace halvexconnector::latestversion::kcidownloader
