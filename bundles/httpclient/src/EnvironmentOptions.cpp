#include <foundation/httpclient/EnvironmentOptions.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace foundation::httpclient {

namespace {
std::optional<long> number(const char* name, long least) {
    const char* text = std::getenv(name);
    if (!text)
        return std::nullopt;
    const std::string_view view(text);
    long value = 0;
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
    if (error != std::errc() || end != view.data() + view.size() || value < least)
        return std::nullopt;
    return value;
}
std::optional<long> positiveNumber(const char* name) {
    return number(name, 1);
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
    if (const auto retries = number("QB_HTTPCLIENT_RETRIES", 0))
        options.retries = static_cast<int>(std::min(*retries, 10L));
    if (const auto delay = positiveNumber("QB_HTTPCLIENT_RETRY_DELAY_MS"))
        options.retryDelay = std::chrono::milliseconds(*delay);
    if (const char* file = std::getenv("QB_HTTPCLIENT_EXTRA_CA_FILE"); file && *file)
        options.extraCaFile = file;
    return options;
}

} // namespace foundation::httpclient
