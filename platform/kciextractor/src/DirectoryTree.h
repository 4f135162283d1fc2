#pragma once

#include <fl/filesystem/unique_fd.h>

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace halvexconnector::latestversion::kciextractor::detail {

/// A file being written below a DirectoryTree, through a shared staging buffer so that small
/// blocks from the decompressor become few large writes.
class OutputFile {
public:
    OutputFile(fl::filesystem::unique_fd fd, mode_t mode, std::vector<char>& buffer);

    void write(const void* data, std::size_t size);
    /// Writes what is buffered, sets the final mode and closes; throws std::system_error.
    void finish();

private:
    void flush();
    void writeAll(const char* data, std::size_t size);

    fl::filesystem::unique_fd fd_;
    mode_t mode_;
    std::vector<char>& buffer_;
    std::size_t used_ = 0;
};

/// Creates directories and files below a directory opened by descriptor. Every name is resolved
/// one component at a time relative to its parent's descriptor, never following a symbolic link,
/// and files are created exclusively: whatever already lies on disk cannot redirect a write.
/// Failures throw std::system_error.
class DirectoryTree {
public:
    explicit DirectoryTree(int rootFd) : rootFd_(rootFd) {}

    /// Makes the directory of these components (and its missing parents), mode 0700.
    void makeDirectory(const std::vector<std::string>& components);

    /// Creates the file of these components (parents made as needed). It gets `mode` once
    /// finished; it must not exist yet.
    OutputFile createFile(const std::vector<std::string>& components, mode_t mode,
                          std::vector<char>& buffer);

    /// Opens an existing file of these components (flags as for open, plus O_NOFOLLOW).
    fl::filesystem::unique_fd openFile(const std::vector<std::string>& components, int flags) const;

private:
    /// The directory that holds the last component, made when `create` is true.
    int parentOf(const std::vector<std::string>& components, bool create);
    fl::filesystem::unique_fd openDirectoryChain(const std::vector<std::string>& components,
                                                 std::size_t count, bool create) const;

    int rootFd_;
    // Entries of one directory usually follow each other: keep the last parent open.
    std::string cachedParentKey_;
    fl::filesystem::unique_fd cachedParent_;
};

} // namespace halvexconnector::latestversion::kciextractor::detail
