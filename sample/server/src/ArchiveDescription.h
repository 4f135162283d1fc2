#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace sample::server {

class ArchiveFile;

// What the latest-version document says about the served archive.
struct ArchiveDescription {
    std::string fileName;
    std::string version;
    std::string sha256; // lower-case hex
    std::uint64_t size = 0;
};

class ArchiveDescriptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The "version" of the archive's kci.json (at its root), when the archive is a readable zip
// with such an entry holding a non-empty string. Anything else gives none.
std::optional<std::string> versionFromManifest(const ArchiveFile& archive);

// "<version>" of a file name "kci_<version>.zip" (version not empty), else none.
std::optional<std::string> versionFromFileName(const std::string& fileName);

// The lower-case hex SHA-256 of the whole file.
std::string sha256Of(const ArchiveFile& archive);

// The version (kci.json first, then the file name), digest and size of the archive. Throws
// ArchiveDescriptionError when neither source gives a version.
ArchiveDescription describeArchive(const ArchiveFile& archive);

// The URL path the archive is served at: "/files/" and the percent-encoded file name.
std::string archivePath(const ArchiveDescription& description);

// The latest-version document {"version", "url", "sha256", "size"} for an archive served below
// `baseUrl`.
std::string latestDocument(const ArchiveDescription& description, const std::string& baseUrl);

} // namespace sample::server
