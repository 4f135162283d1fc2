#include <tripwire/testsupport/TestAuthority.h>

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <stdexcept>

namespace tripwire::testsupport {

namespace {

template <typename T> T* checked(T* made) {
    if (!made)
        throw std::runtime_error("test authority: OpenSSL failed");
    return made;
}

// Valid from `from` to `until` seconds from now; signed by `issuer`, or by itself without one.
X509* certify(EVP_PKEY* key, const std::string& name, X509* issuer, EVP_PKEY* signer, long from,
              long until) {
    X509* certificate = checked(X509_new());
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), static_cast<long>(random() & 0x7fffffff));
    X509_gmtime_adj(X509_getm_notBefore(certificate), from);
    X509_gmtime_adj(X509_getm_notAfter(certificate), until);
    X509_set_pubkey(certificate, key);
    X509_NAME* subject = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
    X509_set_issuer_name(certificate, issuer ? X509_get_subject_name(issuer) : subject);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer ? issuer : certificate, certificate, nullptr, nullptr, 0);
    in6_addr address{};
    const bool ip = inet_pton(AF_INET, name.c_str(), &address) == 1;
    const std::pair<int, std::string> extensions[] = {
        {NID_basic_constraints, issuer ? "critical,CA:FALSE" : "critical,CA:TRUE"},
        {issuer ? NID_subject_alt_name : NID_key_usage,
         issuer ? (ip ? "IP:" : "DNS:") + name : "critical,keyCertSign"}};
    for (const auto& [nid, value] : extensions) {
        X509_EXTENSION* extension =
            checked(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
        X509_add_ext(certificate, extension, -1);
        X509_EXTENSION_free(extension);
    }
    if (X509_sign(certificate, signer, EVP_sha256()) <= 0)
        throw std::runtime_error("test authority: cannot sign");
    return certificate;
}

template <typename Write> void writePem(const std::filesystem::path& file, Write write) {
    BIO* out = checked(BIO_new_file(file.c_str(), "w"));
    write(out);
    BIO_free(out);
}

} // namespace

struct TestAuthority::Keys {
    EVP_PKEY* key = checked(EVP_EC_gen("P-256"));
    X509* certificate =
        certify(key, "tripwire test authority", nullptr, key, -2 * 86400, 2 * 86400);
    ~Keys() {
        X509_free(certificate);
        EVP_PKEY_free(key);
    }
};

TestAuthority::TestAuthority() : keys(std::make_unique<Keys>()) {}
TestAuthority::~TestAuthority() = default;

void TestAuthority::writeCertificate(const std::filesystem::path& file) const {
    writePem(file, [&](BIO* out) { PEM_write_bio_X509(out, keys->certificate); });
}

ServerIdentity TestAuthority::issue(const std::string& name, const std::filesystem::path& directory,
                                    bool expired) const {
    EVP_PKEY* key = checked(EVP_EC_gen("P-256"));
    X509* certificate = certify(key, name, keys->certificate, keys->key,
                                expired ? -86400 - 3600 : -3600, expired ? -3600 : 86400);
    const std::string file = name + (expired ? ".expired" : "");
    const ServerIdentity identity{directory / (file + ".pem"), directory / (file + ".key")};
    writePem(identity.certificate, [&](BIO* out) { PEM_write_bio_X509(out, certificate); });
    writePem(identity.key, [&](BIO* out) {
        PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
    });
    X509_free(certificate);
    EVP_PKEY_free(key);
    return identity;
}

} // namespace tripwire::testsupport
