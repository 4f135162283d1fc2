// Input: a public key line, a one-line document, then the signature file.
#include "FuzzSupport.h"

#include "halvexconnector/latestversion/checker/DocumentSignature.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace checker = halvexconnector::latestversion::checker;
    const auto fields = tripwire_fuzz::splitFields(data, size, 3);
    std::vector<checker::TrustedKey> keys;
    try {
        keys.push_back(checker::parsePublicKey("untrusted comment: k\n" + fields[0], "given"));
    } catch (const checker::DocumentSignatureError&) {
    }
    try {
        const auto [key, comment] = checker::verifyDocumentSignature(fields[1], fields[2], keys);
        if (key.origin != "given")
            tripwire_fuzz::violation("verified without the key given");
        if (comment.find('\n') != std::string::npos)
            tripwire_fuzz::violation("a trusted comment of several lines");
    } catch (const checker::DocumentSignatureError&) {
    }
    return 0;
}
