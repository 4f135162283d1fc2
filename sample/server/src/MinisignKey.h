#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

namespace sample::server {

// An Ed25519 key pair with its minisign key id: what signs the sample latest-version document.
struct MinisignKey {
    std::array<unsigned char, 8> id{};
    std::array<unsigned char, 32> seed{};
    std::array<unsigned char, 32> publicKey{};
};

// A fresh key pair with a random key id. Throws std::runtime_error when OpenSSL fails.
MinisignKey makeMinisignKey();

// The minisign public key file ("untrusted comment: ..." and the key line).
std::string minisignPublicKeyFile(const MinisignKey& key);
// The minisign secret key file, unencrypted (as `minisign -G -W` writes it), so that
// `minisign -S -s FILE` signs with it too.
std::string minisignSecretKeyFile(const MinisignKey& key);
// Reads an unencrypted minisign secret key file of at most 4 KiB. Throws std::runtime_error.
MinisignKey readMinisignSecretKey(const std::filesystem::path& file);

// The minisign signature file of `data`: algorithm "ED" (Ed25519 over BLAKE2b-512 of `data`), as
// `minisign -S` writes it, with `trustedComment` signed by the global signature.
std::string minisignSignature(const MinisignKey& key, std::string_view data,
                              const std::string& trustedComment);

} // namespace sample::server
