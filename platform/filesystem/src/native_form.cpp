#include <fl/filesystem/detail/native_form.h>

namespace fl::filesystem::detail {
namespace {

constexpr char16_t separator = u'/';

bool is_separator(char16_t c) {
    return c == u'/' || c == u'\\';
}

} // namespace

ustring make_native_form(const ustring& text, bool form) {
    if (!form) {
        return text;
    }
    ustring out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (is_separator(c)) {
            if (out.empty() || out.back() != separator) {
                out.push_back(separator);
            }
        } else {
            out.push_back(c);
        }
    }
    if (out.size() > 1 && out.back() == separator) {
        out.pop_back();
    }
    return out;
}

void concatenate_pathname(ustring& base, const ustring& component, bool form) {
    std::size_t start = 0;
    while (start < component.size() && is_separator(component[start])) {
        ++start;
    }
    if (start == component.size()) {
        if (form) {
            base = make_native_form(base, true);
        }
        return;
    }
    while (!base.empty() && is_separator(base.back()) && base.size() > 1) {
        base.pop_back();
    }
    if (!base.empty() && !is_separator(base.back())) {
        base.push_back(separator);
    }
    base.append(component, start, ustring::npos);
    if (form) {
        base = make_native_form(base, true);
    }
}

} // namespace fl::filesystem::detail
