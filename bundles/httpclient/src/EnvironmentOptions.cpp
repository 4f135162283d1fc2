#include <foundation/httpclient/EnvironmentOptions.h>

#include <charconv>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace foundation::httpclient {

namespace {
std::optional<long> positiveNumber(const char* name) {
    const char* text = std::getenv(name);
    if (!text)
        return std::nullopt;
    const std::string_view view(text);
    long value = 0;
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
    if (error != std::errc() || end != view.data() + view.size() || value <= 0)
        return std::nullopt;
    return value;
}
} // namespace

CurlHttpClientOptions optionsFromEnvironment() {
    CurlHttpClientOptions options;
    if (const auto seconds = positiveNumber("QB_HTTPCLIENT_STALL_SECONDS"))
        options.stallTime = std::chrono::seconds(*seconds);
    if (const auto rate = positiveNumber("QB_HTTPCLIENT_STALL_BYTES_PER_SECOND"))
        options.stallBytesPerSecond = *rate;
    if (const auto bytes = positiveNumber("QB_HTTPCLIENT_MAX_RESPONSE_BYTES"))
        options.maxResponseBytes = static_cast<std::size_t>(*bytes);
    return options;
}

} // namespace foundation::httpclient
