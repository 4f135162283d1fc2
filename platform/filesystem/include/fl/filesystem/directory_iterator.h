#pragma once

#include <fl/filesystem/basic_path.h>
#include <fl/filesystem/file_status.h>

#include <memory>

namespace fl::filesystem {

/// A file-name pattern: '*' matches any run of characters (also none), '?' exactly one
/// character; everything else matches itself, case-sensitively.
class halvex_pattern_string_context {
public:
    explicit halvex_pattern_string_context(ustring pattern);

    const ustring& pattern() const noexcept { return pattern_; }
    bool matches(const ustring& name) const;

private:
    ustring pattern_;
};

/// One entry of a directory iteration.
class upath_directory_entry {
public:
    upath_directory_entry() = default;
    upath_directory_entry(ustring filename, ustring full_pathname, file_type type)
        : filename_(std::move(filename)), full_pathname_(std::move(full_pathname)), type_(type) {}

    /// The entry's own name ("." and ".." included).
    const ustring& filename() const noexcept { return filename_; }
    /// The iterated directory joined with filename().
    const ustring& full_pathname() const noexcept { return full_pathname_; }
    /// The entry's type as the directory listing reports it (a symbolic link is not followed).
    file_type type() const noexcept { return type_; }

private:
    ustring filename_;
    ustring full_pathname_;
    file_type type_ = file_type::status_error;
};

/// Initialisation modes of a directory iteration (bits).
enum iteration_mode : int {
    /// every entry, "." and ".." included
    iteration_default = 0,
    /// leave out "." and ".."
    iteration_skip_dots = 1,
};

namespace detail {

/// Iterates over a directory in the order the system lists it. After construction the iteration
/// stands on the first entry (that matches the pattern, when one is given); is_open() is false
/// when there is none or the directory is missing or unreadable. increment() moves to the next
/// entry and closes the iteration after the last one. Using a closed iteration (increment or
/// current) throws through throw_invalid_operation_exception. Errors while reading an open
/// directory throw filesystem_error.
///
/// `form` is the form flag of the full path names; `recursive` also descends (depth-first,
/// without following symbolic links) into subdirectories, whose "." and ".." are never
/// reported. Not thread-safe; one thread at a time.
class upath_directory_iterator_impl {
public:
    upath_directory_iterator_impl(const ustring& directory, bool form, int mode = iteration_default,
                                  bool recursive = false);
    upath_directory_iterator_impl(const ustring& directory,
                                  const halvex_pattern_string_context& pattern, bool form,
                                  int mode = iteration_default, bool recursive = false);
    ~upath_directory_iterator_impl();

    upath_directory_iterator_impl(const upath_directory_iterator_impl&) = delete;
    upath_directory_iterator_impl& operator=(const upath_directory_iterator_impl&) = delete;

    bool is_open() const noexcept;
    void increment();

    /// The entry the iteration stands on.
    const upath_directory_entry& current() const;
    const upath_directory_entry& operator*() const { return current(); }
    const upath_directory_entry* operator->() const { return &current(); }

private:
    struct state;
    std::unique_ptr<state> state_;
};

} // namespace detail

} // namespace fl::filesystem
