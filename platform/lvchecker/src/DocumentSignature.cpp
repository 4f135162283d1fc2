// minisign's formats, read with OpenSSL: a public key line is base64 of "Ed" | key id (8) |
// Ed25519 key (32); a signature file is an untrusted comment, base64 of algorithm (2) | key id |
// signature (64), "trusted comment: <text>" and base64 of the global signature (64) over the
// signature followed by the text.
#include <halvexconnector/latestversion/checker/DocumentSignature.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

namespace halvexconnector::latestversion::checker {

namespace {

constexpr std::string_view UNTRUSTED_PREFIX = "untrusted comment: ";
constexpr std::string_view TRUSTED_PREFIX = "trusted comment: ";
constexpr std::size_t ID_BYTES = 8, KEY_BYTES = 32, SIGNATURE_BYTES = 64;

[[noreturn]] void refuse(const std::string& why) {
    throw DocumentSignatureError(why);
}

// The lines of `text` without their line ends ("\n" or "\r\n"); a final line end adds no line.
std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        lines.push_back(line);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return lines;
}

// Exactly `size` bytes from canonical base64, or nothing.
std::optional<std::vector<unsigned char>> decodeBase64(std::string_view text, std::size_t size) {
    if (text.size() != (size + 2) / 3 * 4)
        return std::nullopt;
    std::vector<unsigned char> bytes(text.size() / 4 * 3);
    const int decoded =
        EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
    const std::size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
    if (decoded < 0 || static_cast<std::size_t>(decoded) != bytes.size() ||
        bytes.size() - padding != size)
        return std::nullopt;
    bytes.resize(size);
    return bytes;
}

bool ed25519Verifies(const std::array<unsigned char, 32>& key, const unsigned char* signature,
                     std::string_view message) {
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()),
        &EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    return publicKey && context &&
           EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) == 1 &&
           EVP_DigestVerify(context.get(), signature, SIGNATURE_BYTES,
                            reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

std::string blake2b512(std::string_view data) {
    std::string digest(EVP_MAX_MD_SIZE, '\0');
    unsigned int size = 0;
    if (EVP_Digest(data.data(), data.size(), reinterpret_cast<unsigned char*>(digest.data()), &size,
                   EVP_blake2b512(), nullptr) != 1)
        refuse("BLAKE2b-512 is not available");
    digest.resize(size);
    return digest;
}

} // namespace

std::string keyIdText(const std::array<unsigned char, 8>& id) {
    // minisign prints the id as a little-endian number.
    std::string text;
    char digits[3];
    for (auto byte = id.rbegin(); byte != id.rend(); ++byte) {
        std::snprintf(digits, sizeof digits, "%02X", *byte);
        text += digits;
    }
    return text;
}

TrustedKey parsePublicKey(std::string_view text, std::string origin) {
    const auto lines = linesOf(text);
    if (text.size() > MAX_KEY_FILE_BYTES || lines.size() != 2 ||
        !lines[0].starts_with(UNTRUSTED_PREFIX))
        refuse(origin + " is not a minisign public key file");
    const auto bytes = decodeBase64(lines[1], 2 + ID_BYTES + KEY_BYTES);
    if (!bytes || (*bytes)[0] != 'E' || (*bytes)[1] != 'd')
        refuse(origin + " holds no Ed25519 minisign public key");
    TrustedKey key;
    std::copy_n(bytes->begin() + 2, ID_BYTES, key.id.begin());
    std::copy_n(bytes->begin() + 2 + ID_BYTES, KEY_BYTES, key.key.begin());
    key.origin = std::move(origin);
    return key;
}

std::pair<TrustedKey, std::string> verifyDocumentSignature(std::string_view document,
                                                           std::string_view signature,
                                                           const std::vector<TrustedKey>& keys) {
    const auto lines = signature.size() <= MAX_SIGNATURE_BYTES ? linesOf(signature)
                                                               : std::vector<std::string_view>{};
    if (lines.size() != 4 || !lines[0].starts_with(UNTRUSTED_PREFIX) ||
        !lines[2].starts_with(TRUSTED_PREFIX))
        refuse("the signature is not a minisign signature file");
    const auto signedPart = decodeBase64(lines[1], 2 + ID_BYTES + SIGNATURE_BYTES);
    const auto global = decodeBase64(lines[3], SIGNATURE_BYTES);
    if (!signedPart || !global)
        refuse("the signature is not a minisign signature file");
    const std::string algorithm(signedPart->begin(), signedPart->begin() + 2);
    if (algorithm != "ED" && algorithm != "Ed")
        refuse("the signature's algorithm \"" + algorithm + "\" is not Ed25519");
    std::array<unsigned char, 8> id{};
    std::copy_n(signedPart->begin() + 2, ID_BYTES, id.begin());
    const auto key = std::find_if(keys.begin(), keys.end(),
                                  [&](const TrustedKey& candidate) { return candidate.id == id; });
    if (key == keys.end())
        refuse("the document is signed by key " + keyIdText(id) + ", which is not trusted");

    const unsigned char* documentSignature = signedPart->data() + 2 + ID_BYTES;
    // "ED" signs the BLAKE2b-512 digest of the file, the legacy "Ed" the file itself.
    const std::string prehashed = algorithm == "ED" ? blake2b512(document) : std::string();
    if (!ed25519Verifies(key->key, documentSignature, algorithm == "ED" ? prehashed : document))
        refuse("the signature by key " + keyIdText(id) + " does not match the document");
    const std::string_view comment = lines[2].substr(TRUSTED_PREFIX.size());
    std::string globallySigned(reinterpret_cast<const char*>(documentSignature), SIGNATURE_BYTES);
    globallySigned += comment;
    if (!ed25519Verifies(key->key, global->data(), globallySigned))
        refuse("the trusted comment of the signature by key " + keyIdText(id) +
               " has been altered");
    return {*key, std::string(comment)};
}

} // namespace halvexconnector::latestversion::checker
