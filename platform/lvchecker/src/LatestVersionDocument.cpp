#include <halvexconnector/latestversion/checker/LatestVersionDocument.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>

namespace halvexconnector::latestversion::checker {

namespace {

[[noreturn]] void malformed(const std::string& why) {
    throw LatestVersionError("malformed latest-version document: " + why);
}

std::string requiredText(const nlohmann::json& document, const char* key) {
    const auto found = document.find(key);
    if (found == document.end())
        malformed(std::string("\"") + key + "\" is missing");
    if (!found->is_string())
        malformed(std::string("\"") + key + "\" is not a string");
    return found->get<std::string>();
}

bool isHttpUrl(const std::string& url) {
    const auto lower = [&](std::size_t n) {
        std::string head = url.substr(0, n);
        std::transform(head.begin(), head.end(), head.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return head;
    };
    const bool schemeOk =
        (lower(8) == "https://" && url.size() > 8) || (lower(7) == "http://" && url.size() > 7);
    const bool clean = std::none_of(url.begin(), url.end(),
                                    [](unsigned char c) { return c <= 0x20 || c == 0x7f; });
    return schemeOk && clean;
}

std::optional<std::string> digestOf(const nlohmann::json& document) {
    const auto found = document.find("sha256");
    if (found == document.end() || found->is_null())
        return std::nullopt;
    if (!found->is_string())
        malformed("\"sha256\" is not a string");
    std::string digest = found->get<std::string>();
    if (digest.size() != 64 || !std::all_of(digest.begin(), digest.end(),
                                            [](unsigned char c) { return std::isxdigit(c); }))
        malformed("\"sha256\" is not 64 hexadecimal digits");
    std::transform(digest.begin(), digest.end(), digest.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return digest;
}

std::optional<std::uint64_t> sizeOf(const nlohmann::json& document) {
    const auto found = document.find("size");
    if (found == document.end() || found->is_null())
        return std::nullopt;
    if (!found->is_number_unsigned())
        malformed("\"size\" is not a non-negative integer");
    return found->get<std::uint64_t>();
}

} // namespace

LatestVersionDocument parseLatestVersionDocument(const std::string& text) {
    const auto document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded())
        malformed("not valid JSON");
    if (!document.is_object())
        malformed("not a JSON object");
    LatestVersionDocument parsed;
    parsed.version = requiredText(document, "version");
    parsed.url = requiredText(document, "url");
    if (!parsed.url.empty() && !isHttpUrl(parsed.url))
        malformed("\"url\" is not an absolute http or https URL");
    parsed.sha256 = digestOf(document);
    parsed.size = sizeOf(document);
    return parsed;
}

std::string withDigestFragment(const std::string& url, const std::optional<std::string>& sha256,
                               const std::optional<std::uint64_t>& size) {
    std::string bare = url.substr(0, url.find('#'));
    if (sha256)
        bare += "#sha256=" + *sha256;
    if (size)
        bare += (sha256 ? "&size=" : "#size=") + std::to_string(*size);
    return bare;
}

} // namespace halvexconnector::latestversion::checker
