#include "FileDigest.h"

#include <foundation/httpclient_core/HttpMessage.h>
#include <halvexconnector/latestversion/kcidownloader/DownloadError.h>

#include <openssl/evp.h>

#include <fstream>
#include <memory>
#include <vector>

namespace halvexconnector::latestversion::kcidownloader {

namespace {
struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
} // namespace

std::string sha256OfFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw DownloadError(DownloadError::Reason::FILE_SYSTEM, "cannot read " + file.string());
    std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw DownloadError(DownloadError::Reason::FILE_SYSTEM, "cannot start a SHA-256 digest");
    std::vector<char> buffer(256 * 1024);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (in.gcount() > 0)
            EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad())
        throw DownloadError(DownloadError::Reason::FILE_SYSTEM, "cannot read " + file.string());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    return foundation::httpclient_core::lowerHex(digest, length);
}

} // namespace halvexconnector::latestversion::kcidownloader
