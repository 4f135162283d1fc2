#pragma once

// Builds zip archives for the extractor's tests with libarchive's writer, including entries a
// well-behaved packer would never produce, and patches finished archives byte by byte.
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

struct archive;

namespace kcitest {

class ZipBuilder {
public:
    /// Entries are deflated, or stored uncompressed when `stored` is true.
    explicit ZipBuilder(const std::filesystem::path& target, bool stored = false);
    ~ZipBuilder();
    ZipBuilder(const ZipBuilder&) = delete;
    ZipBuilder& operator=(const ZipBuilder&) = delete;

    ZipBuilder& file(const std::string& name, std::string_view content, mode_t perm = 0644);
    /// A file of `size` zero bytes, written in chunks.
    ZipBuilder& zeros(const std::string& name, std::uint64_t size);
    ZipBuilder& directory(const std::string& name);
    ZipBuilder& symlink(const std::string& name, const std::string& target);
    ZipBuilder& hardlink(const std::string& name, const std::string& target);
    /// A "kci.json" naming this installer (manifestText).
    ZipBuilder& manifest(const std::string& installer, const std::string& version = "2026.12.0.1");
    static std::string manifestText(const std::string& installer, const std::string& version);
    /// Finishes the archive (also done by the destructor).
    void close();

private:
    archive* writer_ = nullptr;
};

std::string readBytes(const std::filesystem::path& file);
void writeBytes(const std::filesystem::path& file, const std::string& bytes);

/// Sets the file type and permission bits that the central directory records for `name`.
void setCentralDirectoryMode(const std::filesystem::path& archive, const std::string& name,
                             std::uint16_t mode);

/// Inverts the byte at `offset` of the (compressed) data of entry `name`.
void flipDataByteOf(const std::filesystem::path& archive, const std::string& name,
                    std::size_t offset);

} // namespace kcitest
