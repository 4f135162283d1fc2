// The loopback kit's servers (the test server and the forward proxy), its certificate authority
// and digest.
#include <tripwire/testsupport/ForwardProxy.h>
#include <tripwire/testsupport/LoopbackServer.h>

#include "MinisignKey.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <thread>
#include <variant>

namespace tripwire::testsupport {

namespace {

// A stalled response holds its server thread at most this long, whatever the test does.
constexpr auto MAX_STALL = std::chrono::seconds(30);
constexpr std::size_t CHUNK = 64 * 1024;

// A file's bytes in memory, or its path on disk, read chunk by chunk as it is sent.
struct FileSource {
    std::variant<std::string, std::filesystem::path> content;

    std::size_t size() const {
        const auto* text = std::get_if<std::string>(&content);
        return text ? text->size() : std::filesystem::file_size(std::get<1>(content));
    }
    std::string read(std::size_t offset, std::size_t length) const {
        if (const auto* text = std::get_if<std::string>(&content))
            return text->substr(offset, length);
        std::ifstream in(std::get<1>(content), std::ios::binary);
        in.seekg(static_cast<std::streamoff>(offset));
        std::string chunk(length, '\0');
        in.read(chunk.data(), static_cast<std::streamsize>(length));
        chunk.resize(static_cast<std::size_t>(in.gcount()));
        return chunk;
    }
};

// Binds `server` to a kernel-chosen port on 127.0.0.1 and serves on `thread`; the port.
int listenOnLoopback(httplib::Server& server, std::thread& thread) {
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0)
        throw std::runtime_error("cannot bind a loopback port for a test server");
    thread = std::thread([&server] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return port;
}

std::optional<std::size_t> numberParam(const httplib::Request& request, const char* name) {
    if (!request.has_param(name))
        return std::nullopt;
    return static_cast<std::size_t>(std::stoull(request.get_param_value(name)));
}

std::string queryWithout(const httplib::Request& request,
                         std::initializer_list<std::string> dropped) {
    std::string query;
    for (const auto& [key, value] : request.params) {
        if (std::find(dropped.begin(), dropped.end(), key) != dropped.end())
            continue;
        query += (query.empty() ? "" : "&") + key + "=" + value;
    }
    return query;
}

// What SIGNATURE_PATH answers for `body`: the signature set, else `body` signed with the key the
// build made for the sample (the staged tree trusts its public key), else nothing.
std::optional<std::string> signatureAnswer(const std::optional<std::optional<std::string>>& set,
                                           const std::string& body) {
    static const auto staged = []() -> std::optional<sample::server::MinisignKey> {
        const char* stage = std::getenv("TRIPWIRE_STAGE_DIR");
        const std::filesystem::path key = std::filesystem::path(stage == nullptr ? "" : stage) /
                                          "libexec/tripwire/sample/tripwire-sample-server.key";
        if (stage == nullptr || !std::filesystem::exists(key))
            return std::nullopt;
        return sample::server::readMinisignSecretKey(key);
    }();
    if (set)
        return *set;
    if (!staged)
        return std::nullopt;
    return sample::server::minisignSignature(*staged, body, "loopback test server");
}

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

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (std::equal(key.begin(), key.end(), name.begin(), name.end(),
                       [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
            return value;
    return {};
}

struct LoopbackServer::State {
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;
    std::string scheme = "http";
    std::map<std::string, int> fileRequests;
    std::uint64_t bodyBytesSent = 0;

    mutable std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false;
    std::map<std::string, std::shared_ptr<FileSource>> files;
    std::string latestBody;
    int latestStatus = 404;
    std::optional<std::optional<std::string>> latestSignature;
    std::vector<RecordedRequest> requests;

    void record(const httplib::Request& request) {
        RecordedRequest recorded{request.method, request.path, {}};
        for (const auto& [key, value] : request.headers)
            recorded.headers.emplace_back(key, value);
        std::lock_guard lock(mutex);
        requests.push_back(std::move(recorded));
    }

    void waitUntilStopping() {
        std::unique_lock lock(mutex);
        stopped.wait_for(lock, MAX_STALL, [this] { return stopping; });
    }

    void serveFile(const httplib::Request& request, httplib::Response& response);
    void start();
};

void LoopbackServer::State::serveFile(const httplib::Request& request,
                                      httplib::Response& response) {
    record(request);
    const std::string name = request.matches[1];
    std::shared_ptr<FileSource> source;
    int seen = 0; // how often this URL was asked for, this request included
    {
        std::lock_guard lock(mutex);
        if (const auto found = files.find(name); found != files.end())
            source = found->second;
        seen = ++fileRequests[name + "?" + queryWithout(request, {})];
    }
    if (const auto status = numberParam(request, "status")) {
        response.status = static_cast<int>(*status);
        response.set_content("injected status " + std::to_string(*status), "text/plain");
        return;
    }
    if (const auto redirects = numberParam(request, "redirect"); redirects && *redirects > 0) {
        std::string query = queryWithout(request, {"redirect"});
        if (*redirects > 1)
            query += (query.empty() ? "" : "&") + std::string("redirect=") +
                     std::to_string(*redirects - 1);
        response.set_redirect(request.path + (query.empty() ? "" : "?" + query), 302);
        return;
    }
    if (request.has_param("redirect-host")) {
        const std::string query = queryWithout(request, {"redirect-host"});
        response.set_redirect("http://" + request.get_param_value("redirect-host") + ":" +
                                  std::to_string(port) + request.path +
                                  (query.empty() ? "" : "?" + query),
                              302);
        return;
    }
    if (!source) {
        response.status = 404;
        response.set_content("no such file", "text/plain");
        return;
    }
    const std::size_t size = source->size();
    const std::size_t declared = numberParam(request, "length").value_or(size);
    // "cut-first" cuts the first request only, so that a retry can resume; "etag=changing"
    // makes every answer look like another version of the file.
    const auto firstCut = numberParam(request, "cut-first");
    const std::size_t cut =
        firstCut && seen == 1 ? *firstCut : numberParam(request, "cut").value_or(size);
    const auto stall = numberParam(request, "stall");
    const std::size_t limit = std::min({size, cut, stall.value_or(size)});
    const bool changing =
        request.has_param("etag") && request.get_param_value("etag") == "changing";
    response.set_header("ETag", "\"v" + std::to_string(changing ? seen : 1) + "\"");
    // Offsets are the file's own: cpp-httplib answers a Range request with 206 from its start.
    response.set_content_provider(
        declared, "application/zip",
        [this, source, limit, stall](std::size_t offset, std::size_t length,
                                     httplib::DataSink& sink) {
            if (offset >= limit) {
                if (stall)
                    waitUntilStopping();
                return false; // closes the connection: a cut, a stall's end or a short file
            }
            const std::string chunk =
                source->read(offset, std::min({length, limit - offset, CHUNK}));
            sink.write(chunk.data(), chunk.size());
            std::lock_guard lock(mutex);
            bodyBytesSent += chunk.size();
            return true;
        });
}

LoopbackServer::LoopbackServer() : state(std::make_shared<State>()) {
    state->server = std::make_unique<httplib::Server>();
    state->start();
}

LoopbackServer::LoopbackServer(const ServerIdentity& tls) : state(std::make_shared<State>()) {
    state->server = std::make_unique<httplib::SSLServer>(tls.certificate.c_str(), tls.key.c_str());
    if (!state->server->is_valid())
        throw std::runtime_error("the test server's certificate or key cannot be read");
    state->scheme = "https";
    state->start();
}

void LoopbackServer::State::start() {
    auto* s = this;
    server->Get(R"(/tripwire/latest\.json(\.sig)?)",
                [s](const httplib::Request& q, httplib::Response& r) {
                    s->record(q);
                    std::lock_guard lock(s->mutex);
                    if (q.path == LATEST_PATH) {
                        r.status = s->latestStatus;
                        r.set_content(s->latestBody, "application/json");
                        return;
                    }
                    const auto signature = signatureAnswer(s->latestSignature, s->latestBody);
                    r.status = signature ? 200 : 404;
                    r.set_content(signature.value_or("not signed"), "text/plain");
                });
    server->Get(R"(/files/([^/]+))",
                [s](const httplib::Request& q, httplib::Response& r) { s->serveFile(q, r); });
    port = listenOnLoopback(*server, thread);
}

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard lock(state->mutex);
        state->stopping = true;
    }
    state->stopped.notify_all();
    state->server->stop();
    if (state->thread.joinable())
        state->thread.join();
}

int LoopbackServer::port() const {
    return state->port;
}

std::string LoopbackServer::baseUrl() const {
    return state->scheme + "://127.0.0.1:" + std::to_string(state->port);
}

std::string LoopbackServer::url(const std::string& pathAndQuery) const {
    return baseUrl() + pathAndQuery;
}

std::string LoopbackServer::fileUrl(const std::string& name, const std::string& query) const {
    return url("/files/" + name + (query.empty() ? "" : "?" + query));
}

void LoopbackServer::setLatestSignature(std::optional<std::string> signature) {
    std::lock_guard lock(state->mutex);
    state->latestSignature = std::move(signature);
}

void LoopbackServer::setLatestDocument(std::string body, int status) {
    std::lock_guard lock(state->mutex);
    state->latestBody = std::move(body);
    state->latestStatus = status;
}

void LoopbackServer::addFile(const std::string& name, std::string content) {
    std::lock_guard lock(state->mutex);
    state->files[name] = std::make_shared<FileSource>(FileSource{std::move(content)});
}

void LoopbackServer::addFileFromDisk(const std::string& name, const std::filesystem::path& path) {
    std::lock_guard lock(state->mutex);
    state->files[name] = std::make_shared<FileSource>(FileSource{path});
}

std::uint64_t LoopbackServer::bodyBytesSent() const {
    std::lock_guard lock(state->mutex);
    return state->bodyBytesSent;
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
    std::lock_guard lock(state->mutex);
    return state->requests;
}

std::string latestDocument(const std::string& version, const std::string& url,
                           const std::optional<std::string>& sha256,
                           const std::optional<std::uint64_t>& size) {
    nlohmann::json document = {{"version", version}, {"url", url}};
    if (sha256)
        document["sha256"] = *sha256;
    if (size)
        document["size"] = *size;
    return document.dump();
}

std::string sha256Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

struct ForwardProxy::State {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::optional<Credentials> required;

    mutable std::mutex mutex;
    std::vector<std::string> forwarded;

    bool authorised(const httplib::Request& request) {
        if (!required)
            return true;
        return request.get_header_value("Proxy-Authorization") ==
               httplib::make_basic_authentication_header(required->username, required->password,
                                                         true)
                   .second;
    }

    void relay(const httplib::Request& request, httplib::Response& response) {
        if (!authorised(request)) {
            response.status = 407;
            response.set_header("Proxy-Authenticate", "Basic realm=\"loopback\"");
            response.set_content("proxy authentication required", "text/plain");
            return;
        }
        // Absolute form only: "http://host:port/path?query".
        static const std::regex absolute(R"(^http://([^/:]+):(\d+)(/.*)?$)");
        std::smatch parts;
        if (!std::regex_match(request.target, parts, absolute)) {
            response.status = 400;
            response.set_content("absolute http target expected", "text/plain");
            return;
        }
        {
            std::lock_guard lock(mutex);
            forwarded.push_back(request.target);
        }
        httplib::Client origin(parts[1].str(), std::stoi(parts[2].str()));
        httplib::Headers headers;
        for (const auto& [key, value] : request.headers)
            if (key != "Proxy-Authorization" && key != "Host" && key != "Proxy-Connection")
                headers.emplace(key, value);
        const std::string path = parts[3].matched ? parts[3].str() : "/";
        const auto result = origin.Get(path, headers);
        if (!result) {
            response.status = 502;
            response.set_content("origin unreachable", "text/plain");
            return;
        }
        response.status = result->status;
        for (const char* name : {"Location", "Content-Type"})
            if (result->has_header(name))
                response.set_header(name, result->get_header_value(name));
        response.body = result->body;
    }
};

ForwardProxy::ForwardProxy(std::optional<Credentials> required) : state(std::make_shared<State>()) {
    auto* s = state.get();
    s->required = std::move(required);
    s->server.Get(".*", [s](const httplib::Request& q, httplib::Response& r) { s->relay(q, r); });
    s->port = listenOnLoopback(s->server, s->thread);
}

ForwardProxy::~ForwardProxy() {
    state->server.stop();
    if (state->thread.joinable())
        state->thread.join();
}

int ForwardProxy::port() const {
    return state->port;
}

std::string ForwardProxy::url() const {
    return "http://127.0.0.1:" + std::to_string(state->port);
}

std::vector<std::string> ForwardProxy::forwarded() const {
    std::lock_guard lock(state->mutex);
    return state->forwarded;
}

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
