#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace tripwire::testsupport {

/// A certificate and its private key, PEM encoded.
struct ServerIdentity {
    std::string certificatePem;
    std::string keyPem;
};

/// A certificate authority made when constructed (P-256 keys, made with OpenSSL), for TLS tests
/// that must never rely on anything of the machine's trust store.
class TestAuthority {
public:
    TestAuthority();
    ~TestAuthority();
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

    /// The authority's own certificate, PEM encoded; writeCertificate puts it into a file.
    std::string certificatePem() const;
    void writeCertificate(const std::filesystem::path& file) const;

    /// A server certificate for `name` (an IP address or a DNS name), valid from an hour ago for
    /// a day, or, when `expired`, for the day before that hour.
    ServerIdentity issue(const std::string& name, bool expired = false) const;

private:
    struct Keys;
    std::unique_ptr<Keys> keys;
};

} // namespace tripwire::testsupport
