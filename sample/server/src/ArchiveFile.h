#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace sample::server {

// An archive opened once for the whole run: the digest, the size and every response are taken
// from the same open file, so a build that replaces the file meanwhile (rename over it) cannot
// make the server send bytes that disagree with the document it announced.
class ArchiveFile {
public:
    // Throws std::system_error when the file cannot be opened or is not a regular file.
    explicit ArchiveFile(const std::filesystem::path& path);
    ~ArchiveFile();
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    const std::filesystem::path& path() const { return filePath; }
    std::uint64_t size() const { return fileSize; }
    int descriptor() const { return fd; }

    // Reads up to `length` bytes at `offset` (fewer only at the end); thread-safe (pread).
    // Throws std::system_error on a read error.
    std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t length) const;

private:
    std::filesystem::path filePath;
    int fd = -1;
    std::uint64_t fileSize = 0;
};

} // namespace sample::server
