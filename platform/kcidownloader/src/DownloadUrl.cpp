#include <halvexconnector/latestversion/kcidownloader/DownloadError.h>
#include <halvexconnector/latestversion/kcidownloader/DownloadUrl.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

namespace halvexconnector::latestversion::kcidownloader {

namespace {

constexpr std::size_t MAX_NAME_BYTES = 200;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

[[noreturn]] void invalid(const std::string& url, const std::string& why) {
    throw DownloadError(DownloadError::Reason::INVALID_URL,
                        "invalid download URL \"" + url.substr(0, url.find('#')) + "\": " + why);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

std::string percentDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

void readFragment(const std::string& url, const std::string& fragment, DownloadUrl& parsed) {
    std::size_t start = 0;
    while (start <= fragment.size()) {
        const auto end = std::min(fragment.find('&', start), fragment.size());
        const std::string item = fragment.substr(start, end - start);
        if (item.rfind("sha256=", 0) == 0) {
            const std::string value = lower(item.substr(7));
            if (value.size() != 64 || !std::all_of(value.begin(), value.end(), [](unsigned char c) {
                    return std::isxdigit(c);
                }))
                invalid(url, "the sha256 fragment is not 64 hexadecimal digits");
            parsed.sha256 = value;
        } else if (item.rfind("size=", 0) == 0) {
            std::uint64_t size = 0;
            const auto [last, error] =
                std::from_chars(item.data() + 5, item.data() + item.size(), size);
            if (error != std::errc() || last != item.data() + item.size() || item.size() == 5)
                invalid(url, "the size fragment is not a decimal number");
            parsed.size = size;
        }
        start = end + 1;
    }
}

} // namespace

DownloadUrl parseDownloadUrl(const std::string& url) {
    DownloadUrl parsed;
    const auto hash = url.find('#');
    parsed.location = url.substr(0, hash);
    if (hash != std::string::npos)
        readFragment(url, url.substr(hash + 1), parsed);

    const auto schemeEnd = parsed.location.find("://");
    if (schemeEnd == std::string::npos)
        invalid(url, "not an absolute URL");
    parsed.scheme = lower(parsed.location.substr(0, schemeEnd));
    if (parsed.scheme != "http" && parsed.scheme != "https")
        invalid(url, "only http and https are supported");
    if (std::any_of(parsed.location.begin(), parsed.location.end(),
                    [](unsigned char c) { return c <= 0x20 || c == 0x7f; }))
        invalid(url, "contains spaces or control characters");

    const auto authorityStart = schemeEnd + 3;
    const auto pathStart =
        std::min(parsed.location.find_first_of("/?", authorityStart), parsed.location.size());
    std::string authority = parsed.location.substr(authorityStart, pathStart - authorityStart);
    if (const auto at = authority.rfind('@'); at != std::string::npos)
        authority = authority.substr(at + 1);
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string::npos)
            invalid(url, "unterminated IPv6 address");
        parsed.host = lower(authority.substr(1, close - 1));
    } else {
        parsed.host = lower(authority.substr(0, authority.find(':')));
    }
    if (parsed.host.empty())
        invalid(url, "no host");

    std::string path = parsed.location.substr(pathStart);
    path = path.substr(0, path.find('?'));
    parsed.fileName = sanitiseFileName(
        path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1));
    return parsed;
}

bool isLoopbackHost(const std::string& host) {
    const std::string name = lower(host);
    if (name == "localhost" || name == "localhost.")
        return true;
    in_addr v4{};
    if (inet_pton(AF_INET, name.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, name.c_str(), &v6) == 1) {
        if (std::memcmp(&v6, &in6addr_loopback, sizeof v6) == 0)
            return true;
        static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
        return std::memcmp(v6.s6_addr, mapped, 12) == 0 && v6.s6_addr[12] == 127;
    }
    return false;
}

std::string sanitiseFileName(const std::string& segment) {
    std::string name;
    for (const char c : percentDecode(segment)) {
        const auto u = static_cast<unsigned char>(c);
        name += (u < 0x20 || u == 0x7f || c == '/' || c == '\\' || c == ':') ? '_' : c;
    }
    if (name.size() > MAX_NAME_BYTES)
        name.erase(0, name.size() - MAX_NAME_BYTES); // keep the extension
    name.erase(0, name.find_first_not_of('.'));
    if (name.empty() || name.find_first_not_of('.') == std::string::npos)
        return "kci.zip";
    return name;
}

} // namespace halvexconnector::latestversion::kcidownloader
