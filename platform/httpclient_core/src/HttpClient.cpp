#include <foundation/httpclient_core/HttpClient.h>

#include <algorithm>
#include <cctype>

namespace foundation::httpclient_core {

HttpClient::~HttpClient() = default;

namespace {
bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}
} // namespace

std::optional<std::string> findHeader(const HttpHeaders& headers, std::string_view name) {
    std::optional<std::string> found;
    for (const auto& [key, value] : headers)
        if (equalsIgnoringCase(key, name))
            found = value;
    return found;
}

std::string lowerHex(const unsigned char* bytes, std::size_t size) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

} // namespace foundation::httpclient_core
