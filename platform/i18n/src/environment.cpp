#include <fl/i18n/conversion.h>
#include <fl/i18n/environment.h>

#include <cstdlib>

namespace fl::i18n {

ustring getenv(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) {
        return {};
    }
    try {
        return utf8_to_ustring(value);
    } catch (const conversion_error& error) {
        throw conversion_error("environment variable " + name + ": " + error.what(),
                               error.offset());
    }
}

} // namespace fl::i18n
