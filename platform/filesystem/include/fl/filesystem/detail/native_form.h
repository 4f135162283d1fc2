#pragma once

#include <fl/i18n/ustring.h>

namespace fl::filesystem::detail {

using fl::i18n::ustring;

/// The native form of a path text. With `form` true (Linux): every '\\' becomes '/', runs of
/// separators collapse to one, and a trailing separator is dropped unless the whole path is the
/// root "/". "." and ".." components are kept (resolving them would ignore symbolic links).
/// With `form` false the text is returned unchanged. An empty text stays empty.
ustring make_native_form(const ustring& text, bool form);

/// Appends `component` to `base` with exactly one separator between them: separators at the end
/// of base and at the start of component are not doubled. An empty base becomes the component
/// alone (never an absolute path); an empty component leaves base unchanged. With `form` true
/// the result is put in native form.
void concatenate_pathname(ustring& base, const ustring& component, bool form);

} // namespace fl::filesystem::detail
