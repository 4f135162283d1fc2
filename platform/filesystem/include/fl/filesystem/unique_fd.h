#pragma once

#include <unistd.h>

#include <utility>

namespace fl::filesystem {

/// Owns one file descriptor and closes it when destroyed.
class unique_fd {
public:
    unique_fd() = default;
    explicit unique_fd(int fd) noexcept : fd_(fd) {}
    unique_fd(unique_fd&& other) noexcept : fd_(other.release()) {}
    unique_fd& operator=(unique_fd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    ~unique_fd() { reset(); }

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    /// Gives up ownership.
    int release() noexcept { return std::exchange(fd_, -1); }
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    /// Closes now; 0 or -1 with errno, as close(2) says (a written file's last error shows here).
    int close() noexcept { return valid() ? ::close(release()) : 0; }

private:
    int fd_ = -1;
};

} // namespace fl::filesystem
