// Input: the latest-version document. Only a document or LatestVersionError may come.
#include "FuzzSupport.h"

#include "halvexconnector/latestversion/checker/LatestVersionDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace checker = halvexconnector::latestversion::checker;
    using tripwire_fuzz::violation;
    checker::LatestVersionDocument document;
    try {
        document = checker::parseLatestVersionDocument(
            std::string(reinterpret_cast<const char*>(data), size));
    } catch (const checker::LatestVersionError&) {
        return 0;
    }
    if (document.sha256 &&
        (document.sha256->size() != 64 ||
         document.sha256->find_first_not_of("0123456789abcdef") != std::string::npos))
        violation("a digest that is not 64 lower-case hex digits");
    if (!document.url.empty() && document.url.find("://") == std::string::npos)
        violation("a URL without a scheme");
    if (document.sha256 && checker::withDigestFragment(document.url, document.sha256)
                                   .find("#sha256=" + *document.sha256) == std::string::npos)
        violation("the digest is missing from the download URL");
    return 0;
}
