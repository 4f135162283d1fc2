#include <fl/filesystem/detail/native_form.h>
#include <fl/filesystem/operations.h>
#include <fl/i18n/conversion.h>

#include <array>
#include <cerrno>
#include <sys/random.h>
#include <sys/stat.h>

#include "native.h"
#include "random_name.h"

namespace fl::filesystem {
namespace detail {

std::string random_characters(std::size_t count) {
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string out;
    std::array<unsigned char, 64> pool{};
    std::size_t used = pool.size();
    while (out.size() < count) {
        if (used == pool.size()) {
            std::size_t filled = 0;
            while (filled < pool.size()) {
                const ssize_t got = ::getrandom(pool.data() + filled, pool.size() - filled, 0);
                if (got < 0) {
                    if (errno == EINTR) {
                        continue;
                    }
                    throw_system_error("getrandom", std::string(), errno);
                }
                filled += static_cast<std::size_t>(got);
            }
            used = 0;
        }
        const unsigned char byte = pool[used++];
        // 252 = 7 * 36: rejecting larger bytes keeps every character equally likely.
        if (byte < 252) {
            out.push_back(alphabet[byte % 36]);
        }
    }
    return out;
}

} // namespace detail

namespace {

// 16 characters of 36 give about 82 bits: two callers picking the same name is not a concern,
// and the existence check below guards against names that are already there.
constexpr std::size_t random_length = 16;
constexpr int attempts = 100;

} // namespace

ustring tmpnam(const ustring& directory, const ustring& prefix, const ustring& suffix) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        ustring name =
            prefix + i18n::utf8_to_ustring(detail::random_characters(random_length)) + suffix;
        ustring candidate = directory;
        detail::concatenate_pathname(candidate, name, true);
        const std::string native = detail::native_bytes(candidate);
        struct stat st {};
        if (::lstat(native.c_str(), &st) != 0) {
            if (errno == ENOENT) {
                return candidate;
            }
            detail::throw_system_error("tmpnam", native, errno);
        }
    }
    detail::throw_system_error("tmpnam", detail::native_bytes(directory), EEXIST);
}

basic_path tmpnam(const basic_path& directory, const ustring& prefix, const ustring& suffix) {
    return basic_path(tmpnam(directory.string(), prefix, suffix), directory.form());
}

} // namespace fl::filesystem
