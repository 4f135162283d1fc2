#include "ArchiveDescription.h"

#include "ArchiveFile.h"

#include <archive.h>
#include <archive_entry.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <unistd.h>

#include <memory>
#include <vector>

namespace sample::server {

namespace {

constexpr std::size_t kChunk = 64 * 1024;
constexpr const char* kManifestName = "kci.json";
// A manifest is a few dozen bytes; a larger entry is not one we would trust.
constexpr la_int64_t kManifestLimit = 64 * 1024;

using ArchiveReader = std::unique_ptr<archive, decltype(&archive_read_free)>;

std::optional<std::string> readManifestEntry(archive* reader) {
    archive_entry* entry = nullptr;
    while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
        const char* name = archive_entry_pathname(entry);
        if (name == nullptr || std::string(name) != kManifestName)
            continue;
        if (archive_entry_size(entry) > kManifestLimit)
            return std::nullopt;
        std::string text;
        std::vector<char> buffer(kChunk);
        la_ssize_t n = 0;
        while ((n = archive_read_data(reader, buffer.data(), buffer.size())) > 0) {
            text.append(buffer.data(), static_cast<std::size_t>(n));
            if (text.size() > static_cast<std::size_t>(kManifestLimit))
                return std::nullopt;
        }
        if (n < 0)
            return std::nullopt;
        return text;
    }
    return std::nullopt;
}

std::string percentEncoded(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const unsigned char c : text) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0x0F];
        }
    }
    return encoded;
}

} // namespace

std::optional<std::string> versionFromManifest(const ArchiveFile& archive) {
    ArchiveReader reader(archive_read_new(), archive_read_free);
    archive_read_support_format_zip(reader.get());
    // libarchive reads the descriptor from its current offset; the server itself uses pread.
    if (::lseek(archive.descriptor(), 0, SEEK_SET) != 0 ||
        archive_read_open_fd(reader.get(), archive.descriptor(), kChunk) != ARCHIVE_OK)
        return std::nullopt;
    const auto text = readManifestEntry(reader.get());
    if (!text)
        return std::nullopt;
    const auto manifest = nlohmann::json::parse(*text, nullptr, false);
    if (!manifest.is_object() || !manifest.contains("version") || !manifest["version"].is_string())
        return std::nullopt;
    auto version = manifest["version"].get<std::string>();
    if (version.empty())
        return std::nullopt;
    return version;
}

std::optional<std::string> versionFromFileName(const std::string& fileName) {
    const std::string prefix = "kci_";
    const std::string suffix = ".zip";
    if (fileName.size() <= prefix.size() + suffix.size() || !fileName.starts_with(prefix) ||
        !fileName.ends_with(suffix))
        return std::nullopt;
    return fileName.substr(prefix.size(), fileName.size() - prefix.size() - suffix.size());
}

std::string sha256Of(const ArchiveFile& archive) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw ArchiveDescriptionError("cannot compute SHA-256");
    std::vector<char> buffer(kChunk);
    std::uint64_t offset = 0;
    while (offset < archive.size()) {
        const std::size_t n = archive.readAt(offset, buffer.data(), buffer.size());
        if (n == 0)
            throw ArchiveDescriptionError(archive.path().string() + " got shorter while read");
        EVP_DigestUpdate(context.get(), buffer.data(), n);
        offset += n;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0F];
    }
    return hex;
}

ArchiveDescription describeArchive(const ArchiveFile& archive) {
    ArchiveDescription description;
    description.fileName = archive.path().filename().string();
    auto version = versionFromManifest(archive);
    if (!version)
        version = versionFromFileName(description.fileName);
    if (!version)
        throw ArchiveDescriptionError(
            "no version for " + archive.path().string() +
            ": the archive has no kci.json with a \"version\" and is not named kci_<version>.zip");
    description.version = *version;
    description.size = archive.size();
    description.sha256 = sha256Of(archive);
    return description;
}

std::string archivePath(const ArchiveDescription& description) {
    return "/files/" + percentEncoded(description.fileName);
}

std::string latestDocument(const ArchiveDescription& description, const std::string& baseUrl) {
    const nlohmann::ordered_json document = {{"version", description.version},
                                             {"url", baseUrl + archivePath(description)},
                                             {"sha256", description.sha256},
                                             {"size", description.size}};
    return document.dump() + "\n";
}

} // namespace sample::server
