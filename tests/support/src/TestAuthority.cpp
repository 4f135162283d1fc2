#include <tripwire/testsupport/TestAuthority.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <atomic>
#include <fstream>
#include <stdexcept>

namespace tripwire::testsupport {

namespace {

void check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("test authority: cannot ") + what);
}

EVP_PKEY* newKey() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    check(key != nullptr, "make a key");
    return key;
}

void addExtension(X509* certificate, X509V3_CTX& context, int nid, const std::string& value) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    check(extension != nullptr && X509_add_ext(certificate, extension, -1) == 1,
          "add an extension");
    X509_EXTENSION_free(extension);
}

// Valid from `from` to `until` seconds from now; signed by the issuer, or by itself without one.
X509* makeCertificate(EVP_PKEY* key, const std::string& name, X509* issuer, EVP_PKEY* issuerKey,
                      long from, long until) {
    static std::atomic<long> serial{1};
    X509* certificate = X509_new();
    check(certificate != nullptr, "make a certificate");
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++);
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
    if (!issuer) {
        addExtension(certificate, context, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(certificate, context, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        in6_addr address{};
        const bool ip = inet_pton(AF_INET, name.c_str(), &address) == 1 ||
                        inet_pton(AF_INET6, name.c_str(), &address) == 1;
        addExtension(certificate, context, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(certificate, context, NID_subject_alt_name, (ip ? "IP:" : "DNS:") + name);
        addExtension(certificate, context, NID_ext_key_usage, "serverAuth");
    }
    check(X509_sign(certificate, issuerKey, EVP_sha256()) > 0, "sign a certificate");
    return certificate;
}

template <typename Write> std::string pem(Write write) {
    BIO* memory = BIO_new(BIO_s_mem());
    check(memory != nullptr && write(memory) == 1, "encode PEM");
    char* data = nullptr;
    const long length = BIO_get_mem_data(memory, &data);
    std::string text(data, static_cast<std::size_t>(length));
    BIO_free(memory);
    return text;
}

} // namespace

struct TestAuthority::Keys {
    EVP_PKEY* key = newKey();
    X509* certificate = nullptr;
    ~Keys() {
        X509_free(certificate);
        EVP_PKEY_free(key);
    }
};

TestAuthority::TestAuthority() : keys(std::make_unique<Keys>()) {
    keys->certificate = makeCertificate(keys->key, "tripwire test authority", nullptr, keys->key,
                                        -2 * 86400, 2 * 86400);
}

TestAuthority::~TestAuthority() = default;

std::string TestAuthority::certificatePem() const {
    return pem([&](BIO* out) { return PEM_write_bio_X509(out, keys->certificate); });
}

void TestAuthority::writeCertificate(const std::filesystem::path& file) const {
    std::ofstream(file, std::ios::binary) << certificatePem();
}

ServerIdentity TestAuthority::issue(const std::string& name, bool expired) const {
    EVP_PKEY* key = newKey();
    X509* certificate = makeCertificate(key, name, keys->certificate, keys->key,
                                        expired ? -86400 - 3600 : -3600, expired ? -3600 : 86400);
    ServerIdentity identity{
        pem([&](BIO* out) { return PEM_write_bio_X509(out, certificate); }), pem([&](BIO* out) {
            return PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
        })};
    X509_free(certificate);
    EVP_PKEY_free(key);
    return identity;
}

} // namespace tripwire::testsupport
