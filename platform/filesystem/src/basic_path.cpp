#include <fl/filesystem/basic_path.h>
#include <fl/filesystem/detail/native_form.h>

namespace fl::filesystem {

basic_path::basic_path(const ustring& text, bool form) {
    assign(text, form);
}

void basic_path::assign(const ustring& text, bool form) {
    form_ = form;
    text_ = text.empty() ? ustring() : detail::make_native_form(text, form);
}

} // namespace fl::filesystem
