// Feeds arbitrary text to the latest-version document parser. It may only answer with a document
// or LatestVersionError; an accepted document must hold what the parser promises.
#include "halvexconnector/latestversion/checker/LatestVersionDocument.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

namespace checker = halvexconnector::latestversion::checker;

[[noreturn]] void violation(const char* what) {
    std::fprintf(stderr, "latest-version document fuzz: %s\n", what);
    std::abort();
}

bool isLowerHex(const std::string& text) {
    for (const unsigned char c : text) {
        if (!std::isdigit(c) && !(c >= 'a' && c <= 'f')) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    checker::LatestVersionDocument document;
    try {
        document = checker::parseLatestVersionDocument(text);
    } catch (const checker::LatestVersionError&) {
        return 0;
    }
    if (document.sha256 && (document.sha256->size() != 64 || !isLowerHex(*document.sha256))) {
        violation("a digest that is not 64 lower-case hex digits");
    }
    if (!document.url.empty() && document.url.rfind("http", 0) != 0 &&
        document.url.rfind("HTTP", 0) != 0 && document.url.find("://") == std::string::npos) {
        violation("a URL without a scheme");
    }
    const std::string fragment = checker::withDigestFragment(document.url, document.sha256);
    if (document.sha256 && fragment.find("#sha256=" + *document.sha256) == std::string::npos) {
        violation("the digest is missing from the download URL");
    }
    return 0;
}
