#pragma once

#include <halvexconnector/latestversion/checker/LatestVersionDocument.h>

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace halvexconnector::latestversion::checker {

/// Where the detached signature of the latest-version document lies below the maker's web domain.
inline constexpr const char* LATEST_SIGNATURE_PATH = "/tripwire/latest.json.sig";
/// Where the trusted public keys lie below the installation root.
inline constexpr const char* TRUSTED_KEYS_DIRECTORY = "etc/tripwire/trusted-keys";
/// Key and signature files are a few lines; anything longer is refused unread.
inline constexpr std::size_t MAX_KEY_FILE_BYTES = 4096;
inline constexpr std::size_t MAX_SIGNATURE_BYTES = 16384;

/// A minisign Ed25519 public key.
struct TrustedKey {
    std::array<unsigned char, 8> id{};
    std::array<unsigned char, 32> key{};
    /// Where the key came from (a file, or "built in"), for the log.
    std::string origin;
};

/// The document is unsigned, signed by a key nobody trusts, or altered. Thrown before the
/// document is used; the attempt ends without downloading anything.
class DocumentSignatureError : public LatestVersionError {
public:
    using LatestVersionError::LatestVersionError;
};

/// A minisign public key file ("untrusted comment: ..." then the base64 key line). Throws
/// DocumentSignatureError naming what is wrong.
TrustedKey parsePublicKey(std::string_view text, std::string origin);

/// The key id as minisign prints it: 16 upper-case hex digits.
std::string keyIdText(const std::array<unsigned char, 8>& id);

/// Checks a minisign signature file over `document` with whichever of `keys` has its key id:
/// algorithm "ED" (Ed25519 over BLAKE2b-512 of the document, what `minisign -S` writes) or the
/// legacy "Ed" (Ed25519 over the document), then the global signature over the trusted comment.
/// Returns the key that verified it and the trusted comment; throws DocumentSignatureError.
std::pair<TrustedKey, std::string> verifyDocumentSignature(std::string_view document,
                                                           std::string_view signature,
                                                           const std::vector<TrustedKey>& keys);

/// The keys built in at compile time and the "*.pub" files of <installRoot>/TRUSTED_KEYS_DIRECTORY.
/// A folder or file that another user owns or may write, a link, or a file that is not a key is
/// skipped with a log record.
std::vector<TrustedKey> loadTrustedKeys(const std::filesystem::path& installRoot);

} // namespace halvexconnector::latestversion::checker
