#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace tripwire::testsupport {

/// The PEM files of a certificate and of its private key.
struct ServerIdentity {
    std::filesystem::path certificate;
    std::filesystem::path key;
};

/// A certificate authority made when constructed (P-256 keys, with OpenSSL), so that TLS tests
/// never rely on the machine's trust store.
class TestAuthority {
public:
    TestAuthority();
    ~TestAuthority();

    /// Writes the authority's certificate (PEM) into `file`.
    void writeCertificate(const std::filesystem::path& file) const;

    /// A server certificate for `name` (an IP address or a DNS name), in force from an hour ago
    /// for a day, or, when `expired`, for the day before that hour; written into `directory`.
    ServerIdentity issue(const std::string& name, const std::filesystem::path& directory,
                         bool expired = false) const;

private:
    struct Keys;
    std::unique_ptr<Keys> keys;
};

} // namespace tripwire::testsupport
