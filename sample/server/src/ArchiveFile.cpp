#include "ArchiveFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace sample::server {

ArchiveFile::ArchiveFile(const std::filesystem::path& path) : filePath(path) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "cannot open " + path.string());
    struct stat status {};
    const int error = ::fstat(fd, &status) != 0 ? errno : (S_ISREG(status.st_mode) ? 0 : EINVAL);
    if (error != 0) {
        ::close(fd);
        throw std::system_error(error, std::generic_category(),
                                "not a readable regular file: " + path.string());
    }
    fileSize = static_cast<std::uint64_t>(status.st_size);
}

ArchiveFile::~ArchiveFile() {
    ::close(fd);
}

std::size_t ArchiveFile::readAt(std::uint64_t offset, char* buffer, std::size_t length) const {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n =
            ::pread(fd, buffer + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::system_error(errno, std::generic_category(),
                                    "cannot read " + filePath.string());
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

} // namespace sample::server
