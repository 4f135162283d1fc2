#pragma once

#include <cstdint>

namespace fl::filesystem {

enum class file_type { status_error, not_found, regular, directory, symlink, other };

/// What status() found at a path: its type and its permission bits.
class file_status {
public:
    /// Permission bits (the POSIX mode bits) and the modifiers of permissions().
    enum perms : std::uint32_t {
        no_perms = 0,
        owner_read = 0400,
        owner_write = 0200,
        owner_exe = 0100,
        owner_all = 0700,
        group_read = 040,
        group_write = 020,
        group_exe = 010,
        group_all = 070,
        others_read = 04,
        others_write = 02,
        others_exe = 01,
        others_all = 07,
        /// read, write and execute for everyone; never the set-id or sticky bits
        perms_all = 0777,
        set_uid_on_exe = 04000,
        set_gid_on_exe = 02000,
        sticky_bit = 01000,
        perms_mask = 07777,
        /// permissions(): add the given bits to the current ones
        perms_add = 0x1000,
        /// permissions(): remove the given bits from the current ones
        perms_remove = 0x2000,
    };

    file_status() = default;
    file_status(file_type type, perms permissions) : type_(type), perms_(permissions) {}

    file_type type() const noexcept { return type_; }
    perms permissions() const noexcept { return perms_; }

    bool exists() const noexcept {
        return type_ != file_type::not_found && type_ != file_type::status_error;
    }
    bool is_directory() const noexcept { return type_ == file_type::directory; }
    bool is_regular_file() const noexcept { return type_ == file_type::regular; }
    bool is_symlink() const noexcept { return type_ == file_type::symlink; }

private:
    file_type type_ = file_type::status_error;
    perms perms_ = no_perms;
};

constexpr file_status::perms operator|(file_status::perms a, file_status::perms b) noexcept {
    return static_cast<file_status::perms>(static_cast<std::uint32_t>(a) |
                                           static_cast<std::uint32_t>(b));
}
constexpr file_status::perms operator&(file_status::perms a, file_status::perms b) noexcept {
    return static_cast<file_status::perms>(static_cast<std::uint32_t>(a) &
                                           static_cast<std::uint32_t>(b));
}

} // namespace fl::filesystem
