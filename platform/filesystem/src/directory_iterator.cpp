#include <fl/filesystem/detail/native_form.h>
#include <fl/filesystem/directory_iterator.h>
#include <fl/filesystem/filesystem_error.h>
#include <fl/i18n/conversion.h>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <vector>

#include "native.h"

namespace fl::filesystem {

halvex_pattern_string_context::halvex_pattern_string_context(ustring pattern)
    : pattern_(std::move(pattern)) {}

bool halvex_pattern_string_context::matches(const ustring& name) const {
    // Greedy match with backtracking to the last '*': linear in practice, never exponential.
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = ustring::npos;
    std::size_t star_n = 0;
    while (n < name.size()) {
        if (p < pattern_.size() && (pattern_[p] == u'?' || pattern_[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern_.size() && pattern_[p] == u'*') {
            star = p++;
            star_n = n;
        } else if (star != ustring::npos) {
            p = star + 1;
            n = ++star_n;
        } else {
            return false;
        }
    }
    while (p < pattern_.size() && pattern_[p] == u'*') {
        ++p;
    }
    return p == pattern_.size();
}

namespace detail {
namespace {

bool is_dot_name(const std::string& name) {
    return name == "." || name == "..";
}

bool is_unreadable(int error) {
    return error == ENOENT || error == ENOTDIR || error == EACCES;
}

file_type type_from_dirent(unsigned char d_type) {
    switch (d_type) {
    case DT_REG:
        return file_type::regular;
    case DT_DIR:
        return file_type::directory;
    case DT_LNK:
        return file_type::symlink;
    case DT_UNKNOWN:
        return file_type::status_error;
    default:
        return file_type::other;
    }
}

} // namespace

struct upath_directory_iterator_impl::state {
    struct frame {
        DIR* dir = nullptr;
        std::string native;
        ustring text;
        bool top = false;
    };

    std::vector<frame> stack;
    std::optional<halvex_pattern_string_context> pattern;
    bool form = true;
    int mode = iteration_default;
    bool recursive = false;
    std::optional<ustring> pending_descent; // a directory to enter before reading on
    upath_directory_entry entry;
    bool open = false;

    ~state() {
        for (auto& f : stack) {
            ::closedir(f.dir);
        }
    }

    // False when the directory is missing or unreadable; throws on other failures.
    bool push(const ustring& text, bool top) {
        const std::string native = native_bytes(text);
        DIR* dir = ::opendir(native.c_str());
        if (dir == nullptr) {
            const int error = errno;
            if (is_unreadable(error)) {
                return false;
            }
            throw_system_error("directory_iterator", native, error);
        }
        stack.push_back(frame{dir, native, text, top});
        return true;
    }

    void advance() {
        for (;;) {
            if (pending_descent) {
                const ustring child = std::move(*pending_descent);
                pending_descent.reset();
                push(child, false);
            }
            if (stack.empty()) {
                open = false;
                return;
            }
            frame& f = stack.back();
            errno = 0;
            const dirent* d = ::readdir(f.dir);
            if (d == nullptr) {
                const int error = errno;
                if (error != 0) {
                    open = false;
                    throw_system_error("directory_iterator", f.native, error);
                }
                ::closedir(f.dir);
                stack.pop_back();
                continue;
            }
            const std::string name = d->d_name;
            const bool dots = is_dot_name(name);
            if (dots && (!f.top || (mode & iteration_skip_dots) != 0)) {
                continue;
            }
            file_type type = type_from_dirent(d->d_type);
            if (type == file_type::status_error) {
                struct stat st {};
                if (::fstatat(::dirfd(f.dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                    type = S_ISDIR(st.st_mode)   ? file_type::directory
                           : S_ISREG(st.st_mode) ? file_type::regular
                           : S_ISLNK(st.st_mode) ? file_type::symlink
                                                 : file_type::other;
                }
            }
            ustring filename = i18n::detail::bytes_to_ustring_escaped(name);
            ustring full = f.text;
            concatenate_pathname(full, filename, form);
            if (recursive && !dots && type == file_type::directory) {
                pending_descent = full;
            }
            if (pattern && !pattern->matches(filename)) {
                continue;
            }
            entry = upath_directory_entry(std::move(filename), std::move(full), type);
            open = true;
            return;
        }
    }
};

upath_directory_iterator_impl::upath_directory_iterator_impl(const ustring& directory, bool form,
                                                             int mode, bool recursive)
    : state_(std::make_unique<state>()) {
    state_->form = form;
    state_->mode = mode;
    state_->recursive = recursive;
    if (state_->push(directory, true)) {
        state_->advance();
    }
}

upath_directory_iterator_impl::upath_directory_iterator_impl(
    const ustring& directory, const halvex_pattern_string_context& pattern, bool form, int mode,
    bool recursive)
    : state_(std::make_unique<state>()) {
    state_->pattern = pattern;
    state_->form = form;
    state_->mode = mode;
    state_->recursive = recursive;
    if (state_->push(directory, true)) {
        state_->advance();
    }
}

upath_directory_iterator_impl::~upath_directory_iterator_impl() = default;

bool upath_directory_iterator_impl::is_open() const noexcept {
    return state_->open;
}

void upath_directory_iterator_impl::increment() {
    if (!state_->open) {
        throw_invalid_operation_exception("increment of a directory iteration that is not open");
    }
    state_->advance();
}

const upath_directory_entry& upath_directory_iterator_impl::current() const {
    if (!state_->open) {
        throw_invalid_operation_exception("entry of a directory iteration that is not open");
    }
    return state_->entry;
}

} // namespace detail
} // namespace fl::filesystem
