#pragma once

#include <filesystem>
#include <string_view>
#include <sys/types.h>

namespace telx::detail {

/// The event file, opened for appending and held under an exclusive advisory lock (flock) from
/// construction to destruction. Every writer of the file takes the same lock, so lines from
/// different threads and processes never interleave.
class LockedEventFile {
public:
    /// Opens (creating it 0600 when missing) and locks. Throws telx::WriteError.
    explicit LockedEventFile(const std::filesystem::path& path);
    ~LockedEventFile();
    LockedEventFile(const LockedEventFile&) = delete;
    LockedEventFile& operator=(const LockedEventFile&) = delete;

    /// Appends `line` whole or not at all: on any failure the file is cut back to its previous
    /// length and telx::WriteError is thrown. When the file does not end with a newline (a line
    /// left unfinished by some earlier writer), a newline is written first so that `line` stays
    /// a line of its own. With `durable`, returns only after fdatasync.
    void append(std::string_view line, bool durable);

private:
    bool endsWithNewline(off_t size) const;
    void writeAll(std::string_view text, off_t rollBackTo, bool regular);
    [[noreturn]] void fail(int error, const char* what, off_t rollBackTo, bool regular);

    std::filesystem::path path;
    int fd = -1;
};

} // namespace telx::detail
