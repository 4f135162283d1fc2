#include "MinisignKey.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

namespace sample::server {

namespace {

using Bytes = std::vector<unsigned char>;
using PKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
// "Ed" | kdf "\0\0" (none) | checksum "B2" | salt (32) | opslimit (8) | memlimit (8): the
// header of an unencrypted secret key, followed by the key id and seed + public key.
constexpr std::size_t kSecretHeader = 2 + 2 + 2 + 32 + 8 + 8;
constexpr std::size_t kSecretBytes = kSecretHeader + 8 + 64 + 32;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("minisign key: " + what);
}

std::string base64(const Bytes& bytes) {
    std::string text((bytes.size() + 2) / 3 * 4 + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                  static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(n));
    return text;
}

std::string keyIdText(const std::array<unsigned char, 8>& id) {
    std::string text;
    char digits[3];
    for (auto byte = id.rbegin(); byte != id.rend(); ++byte) {
        std::snprintf(digits, sizeof digits, "%02X", *byte);
        text += digits;
    }
    return text;
}

PKey privateKey(const MinisignKey& key) {
    PKey pkey(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, key.seed.data(), key.seed.size()),
        &EVP_PKEY_free);
    if (!pkey)
        fail("not an Ed25519 key");
    return pkey;
}

Bytes ed25519Sign(const MinisignKey& key, const unsigned char* data, std::size_t size) {
    const PKey pkey = privateKey(key);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    Bytes signature(64);
    std::size_t length = signature.size();
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1 ||
        EVP_DigestSign(context.get(), signature.data(), &length, data, size) != 1)
        fail("signing failed");
    return signature;
}

} // namespace

MinisignKey makeMinisignKey() {
    MinisignKey key;
    PKey pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), &EVP_PKEY_free);
    std::size_t seedSize = key.seed.size(), publicSize = key.publicKey.size();
    if (!pkey || RAND_bytes(key.id.data(), static_cast<int>(key.id.size())) != 1 ||
        EVP_PKEY_get_raw_private_key(pkey.get(), key.seed.data(), &seedSize) != 1 ||
        EVP_PKEY_get_raw_public_key(pkey.get(), key.publicKey.data(), &publicSize) != 1)
        fail("cannot generate an Ed25519 key");
    return key;
}

std::string minisignPublicKeyFile(const MinisignKey& key) {
    Bytes line{'E', 'd'};
    line.insert(line.end(), key.id.begin(), key.id.end());
    line.insert(line.end(), key.publicKey.begin(), key.publicKey.end());
    return "untrusted comment: minisign public key " + keyIdText(key.id) + "\n" + base64(line) +
           "\n";
}

std::string minisignSecretKeyFile(const MinisignKey& key) {
    Bytes line(kSecretHeader, 0);
    std::copy_n("Ed\0\0B2", 6, line.begin());
    line.insert(line.end(), key.id.begin(), key.id.end());
    line.insert(line.end(), key.seed.begin(), key.seed.end());
    line.insert(line.end(), key.publicKey.begin(), key.publicKey.end());
    // Left zero, as minisign leaves it for a key it does not encrypt.
    line.resize(kSecretBytes, 0);
    return "untrusted comment: minisign encrypted secret key\n" + base64(line) + "\n";
}

MinisignKey readMinisignSecretKey(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string comment, line;
    if (!std::getline(in, comment) || !std::getline(in, line) || line.size() > 4096)
        fail("cannot read " + file.string());
    Bytes bytes(line.size() / 4 * 3 + 3);
    const int n = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(line.data()),
                                  static_cast<int>(line.size()));
    if (n < static_cast<int>(kSecretBytes) ||
        !std::equal(bytes.begin(), bytes.begin() + 6, "Ed\0\0B2"))
        fail(file.string() + " is not an unencrypted minisign secret key");
    MinisignKey key;
    std::copy_n(bytes.begin() + kSecretHeader, 8, key.id.begin());
    std::copy_n(bytes.begin() + kSecretHeader + 8, 32, key.seed.begin());
    std::copy_n(bytes.begin() + kSecretHeader + 40, 32, key.publicKey.begin());
    return key;
}

std::string minisignSignature(const MinisignKey& key, std::string_view data,
                              const std::string& trustedComment) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &digestSize, EVP_blake2b512(), nullptr) != 1)
        fail("BLAKE2b-512 is not available");
    Bytes line{'E', 'D'};
    line.insert(line.end(), key.id.begin(), key.id.end());
    const Bytes signature = ed25519Sign(key, digest, digestSize);
    line.insert(line.end(), signature.begin(), signature.end());
    Bytes global = signature;
    global.insert(global.end(), trustedComment.begin(), trustedComment.end());
    return "untrusted comment: signature from tripwire-sample-server\n" + base64(line) +
           "\ntrusted comment: " + trustedComment + "\n" +
           base64(ed25519Sign(key, global.data(), global.size())) + "\n";
}

} // namespace sample::server
