#include "DirectoryTree.h"

#include "EntryName.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace halvexconnector::latestversion::kciextractor::detail {
namespace {

constexpr mode_t kDirectoryMode = 0700;

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

fl::filesystem::unique_fd openDirectoryAt(int parent, const std::string& name) {
    fl::filesystem::unique_fd fd(
        ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        throwErrno("cannot open directory \"" + name + "\"");
    }
    return fd;
}

// Opens `name` below `parent`, making it first when asked. A name taken by anything other than
// a directory (a file, a symbolic link) fails to open with O_DIRECTORY | O_NOFOLLOW.
fl::filesystem::unique_fd enterDirectory(int parent, const std::string& name, bool create) {
    bool made = false;
    if (create) {
        if (::mkdirat(parent, name.c_str(), kDirectoryMode) == 0) {
            made = true;
        } else if (errno != EEXIST) {
            throwErrno("cannot create directory \"" + name + "\"");
        }
    }
    fl::filesystem::unique_fd fd = openDirectoryAt(parent, name);
    // The umask may have taken bits away; the tree's modes do not depend on it.
    if (made && ::fchmod(fd.get(), kDirectoryMode) != 0) {
        throwErrno("cannot set the mode of directory \"" + name + "\"");
    }
    return fd;
}

} // namespace

OutputFile::OutputFile(fl::filesystem::unique_fd fd, mode_t mode, std::vector<char>& buffer)
    : fd_(std::move(fd)), mode_(mode), buffer_(buffer) {}

void OutputFile::write(const void* data, std::size_t size) {
    // The decompressor may hand over empty blocks without a buffer.
    if (size == 0) {
        return;
    }
    const char* bytes = static_cast<const char*>(data);
    if (used_ + size > buffer_.size()) {
        flush();
    }
    if (size >= buffer_.size()) {
        writeAll(bytes, size);
        return;
    }
    std::memcpy(buffer_.data() + used_, bytes, size);
    used_ += size;
}

void OutputFile::finish() {
    flush();
    if (::fchmod(fd_.get(), mode_) != 0) {
        throwErrno("cannot set the mode of a file");
    }
    if (::close(fd_.release()) != 0) {
        throwErrno("cannot close a file");
    }
}

void OutputFile::flush() {
    writeAll(buffer_.data(), used_);
    used_ = 0;
}

void OutputFile::writeAll(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_.get(), data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwErrno("cannot write a file");
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void DirectoryTree::makeDirectory(const std::vector<std::string>& components) {
    const int parent = parentOf(components, true);
    enterDirectory(parent, components.back(), true);
}

OutputFile DirectoryTree::createFile(const std::vector<std::string>& components, mode_t mode,
                                     std::vector<char>& buffer) {
    const int parent = parentOf(components, true);
    // Owner-only until finished, so nobody reads a half-written file through wider modes.
    fl::filesystem::unique_fd fd(::openat(parent, components.back().c_str(),
                                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                          0600));
    if (!fd.valid()) {
        throwErrno("cannot create file");
    }
    return OutputFile(std::move(fd), mode, buffer);
}

fl::filesystem::unique_fd DirectoryTree::openFile(const std::vector<std::string>& components,
                                                  int flags) const {
    const fl::filesystem::unique_fd parent =
        openDirectoryChain(components, components.size() - 1, false);
    const int parentFd = parent.valid() ? parent.get() : rootFd_;
    fl::filesystem::unique_fd fd(
        ::openat(parentFd, components.back().c_str(), flags | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        throwErrno("cannot open \"" + joinComponents(components) + "\"");
    }
    return fd;
}

int DirectoryTree::parentOf(const std::vector<std::string>& components, bool create) {
    const std::size_t count = components.size() - 1;
    if (count == 0) {
        return rootFd_;
    }
    const std::vector<std::string> parentComponents(components.begin(), components.begin() + count);
    std::string key = joinComponents(parentComponents);
    if (!cachedParent_.valid() || key != cachedParentKey_) {
        cachedParent_ = openDirectoryChain(components, count, create);
        cachedParentKey_ = std::move(key);
    }
    return cachedParent_.get();
}

fl::filesystem::unique_fd
DirectoryTree::openDirectoryChain(const std::vector<std::string>& components, std::size_t count,
                                  bool create) const {
    fl::filesystem::unique_fd current;
    for (std::size_t i = 0; i < count; ++i) {
        current = enterDirectory(current.valid() ? current.get() : rootFd_, components[i], create);
    }
    return current;
}

} // namespace halvexconnector::latestversion::kciextractor::detail
