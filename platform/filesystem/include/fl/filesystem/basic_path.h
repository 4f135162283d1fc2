#pragma once

#include <fl/i18n/ustring.h>

namespace fl::filesystem {

using fl::i18n::ustring;

/// A path: UTF-16 text plus a form flag. With the flag true the text is kept in native form
/// (see detail::make_native_form); with it false the text is stored exactly as given. An empty
/// string always gives an empty path.
class basic_path {
public:
    basic_path() = default;
    basic_path(const ustring& text, bool form);

    /// Replaces text and flag, with the same rules as the constructor.
    void assign(const ustring& text, bool form);

    const ustring& string() const noexcept { return text_; }
    bool form() const noexcept { return form_; }
    bool empty() const noexcept { return text_.empty(); }

    friend bool operator==(const basic_path&, const basic_path&) = default;

private:
    ustring text_;
    bool form_ = true;
};

/// The path type of the file-system functions (a basic_path over ustring).
using upath = basic_path;

} // namespace fl::filesystem
