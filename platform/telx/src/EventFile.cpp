#include "EventFile.h"

#include <telx/WriteError.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telx::detail {
namespace {

std::error_code errorCode(int error) {
    return {error, std::generic_category()};
}

} // namespace

LockedEventFile::LockedEventFile(const std::filesystem::path& path) : path(path) {
    // Read access too: append() looks at the last byte.
    fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw WriteError(errorCode(errno), path, "cannot open the event file");
    }
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            ::close(fd);
            throw WriteError(errorCode(error), path, "cannot lock the event file");
        }
    }
}

LockedEventFile::~LockedEventFile() {
    // Closing the only descriptor of this open file releases the lock.
    ::close(fd);
}

void LockedEventFile::append(std::string_view line, bool durable) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        throw WriteError(errorCode(errno), path, "cannot inspect the event file");
    }
    const bool regular = S_ISREG(status.st_mode);
    const off_t before = regular ? status.st_size : 0;

    if (regular && before > 0 && !endsWithNewline(before)) {
        writeAll("\n" + std::string(line), before, regular);
    } else {
        writeAll(line, before, regular);
    }
    if (durable && ::fdatasync(fd) != 0 && errno != EINVAL) {
        fail(errno, "cannot flush the event file", before, regular);
    }
}

bool LockedEventFile::endsWithNewline(off_t size) const {
    char last = '\n';
    // When the byte cannot be read, assume the file is sound rather than add an empty line.
    return ::pread(fd, &last, 1, size - 1) != 1 || last == '\n';
}

void LockedEventFile::writeAll(std::string_view text, off_t rollBackTo, bool regular) {
    // One write() in practice; the loop only finishes writes cut short by a signal.
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            fail(n < 0 ? errno : EIO, "cannot append to the event file", rollBackTo, regular);
        }
    }
}

void LockedEventFile::fail(int error, const char* what, off_t rollBackTo, bool regular) {
    // Still under the lock: nobody else has appended since `rollBackTo` was measured.
    if (regular && ::ftruncate(fd, rollBackTo) != 0) {
        throw WriteError(errorCode(error), path,
                         std::string(what) + " (and could not remove the partial line: " +
                             std::strerror(errno) + ")");
    }
    throw WriteError(errorCode(error), path, what);
}

} // namespace telx::detail
