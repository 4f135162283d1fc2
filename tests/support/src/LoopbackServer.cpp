#include <tripwire/testsupport/LoopbackServer.h>

#include "MinisignKey.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <variant>

namespace tripwire::testsupport {

namespace {

// A stalled response holds its server thread at most this long, whatever the test does.
constexpr auto MAX_STALL = std::chrono::seconds(30);
constexpr std::size_t CHUNK = 64 * 1024;

struct FileSource {
    std::variant<std::string, std::filesystem::path> content;

    std::size_t size() const {
        if (const auto* text = std::get_if<std::string>(&content))
            return text->size();
        return static_cast<std::size_t>(
            std::filesystem::file_size(std::get<std::filesystem::path>(content)));
    }

    std::string read(std::size_t offset, std::size_t length) const {
        if (const auto* text = std::get_if<std::string>(&content))
            return text->substr(offset, length);
        std::ifstream in(std::get<std::filesystem::path>(content), std::ios::binary);
        in.seekg(static_cast<std::streamoff>(offset));
        std::string chunk(length, '\0');
        in.read(chunk.data(), static_cast<std::streamsize>(length));
        chunk.resize(static_cast<std::size_t>(in.gcount()));
        return chunk;
    }
};

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

    void serveLatest(const httplib::Request& request, httplib::Response& response) {
        record(request);
        std::lock_guard lock(mutex);
        response.status = latestStatus;
        response.set_content(latestBody, "application/json");
    }

    void serveFile(const httplib::Request& request, httplib::Response& response);
    int countRequest(const std::string& url);
    void start();
};

// How often this URL was asked for, this request included.
int LoopbackServer::State::countRequest(const std::string& url) {
    std::lock_guard lock(mutex);
    return ++fileRequests[url];
}

void LoopbackServer::State::serveFile(const httplib::Request& request,
                                      httplib::Response& response) {
    record(request);
    const std::string name = request.matches[1];
    std::shared_ptr<FileSource> source;
    {
        std::lock_guard lock(mutex);
        if (const auto found = files.find(name); found != files.end())
            source = found->second;
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
    const int seen = countRequest(name + "?" + queryWithout(request, {}));
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
    server->Get(LATEST_PATH,
                [s](const httplib::Request& q, httplib::Response& r) { s->serveLatest(q, r); });
    server->Get(SIGNATURE_PATH, [s](const httplib::Request& q, httplib::Response& r) {
        s->record(q);
        std::lock_guard lock(s->mutex);
        const auto signature = signatureAnswer(s->latestSignature, s->latestBody);
        r.status = signature ? 200 : 404;
        r.set_content(signature.value_or("not signed"), "text/plain");
    });
    server->Get(R"(/files/([^/]+))",
                [s](const httplib::Request& q, httplib::Response& r) { s->serveFile(q, r); });
    port = server->bind_to_any_port("127.0.0.1");
    if (port <= 0)
        throw std::runtime_error("cannot bind a loopback port for the test server");
    thread = std::thread([s] { s->server->listen_after_bind(); });
    while (!server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
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

} // namespace tripwire::testsupport
