#include "ArchiveServer.h"

#include "ArchiveFile.h"
#include "LoopbackAddress.h"

#include <httplib.h>

#include <mutex>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <vector>

namespace sample::server {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

} // namespace

struct ArchiveServer::State {
    std::shared_ptr<const ArchiveFile> archive;
    ArchiveDescription description;
    std::ostream& requestLog;
    std::mutex logMutex;
    httplib::Server server;
    std::string document;
    std::optional<MinisignKey> signingKey;
    std::string signature;

    State(std::shared_ptr<const ArchiveFile> file, ArchiveDescription described, std::ostream& log)
        : archive(std::move(file)), description(std::move(described)), requestLog(log) {}

    void serveArchive(httplib::Response& response) {
        auto file = archive;
        response.set_content_provider(
            static_cast<std::size_t>(description.size), "application/zip",
            [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                std::vector<char> buffer(std::min(length, kChunk));
                try {
                    const std::size_t n = file->readAt(offset, buffer.data(), buffer.size());
                    // A short read means the file changed under us: end the response broken
                    // rather than send bytes that disagree with the announced digest.
                    return n > 0 && sink.write(buffer.data(), n);
                } catch (const std::exception&) {
                    return false;
                }
            });
    }

    void logRequest(const httplib::Request& request, const httplib::Response& response) {
        std::lock_guard lock(logMutex);
        requestLog << request.method << " " << request.path << " -> " << response.status;
        if (response.status == 200 && request.path.starts_with("/files/"))
            requestLog << " (" << description.size << " bytes)";
        requestLog << std::endl;
    }
};

ArchiveServer::ArchiveServer(std::shared_ptr<const ArchiveFile> archive,
                             ArchiveDescription description, std::ostream& requestLog)
    : state(std::make_unique<State>(std::move(archive), std::move(description), requestLog)) {
    auto& server = state->server;
    // One request a connection: a client that keeps a connection open cannot hold up stop().
    server.set_keep_alive_max_count(1);
    server.Get(R"(/tripwire/latest\.json)",
               [this](const httplib::Request&, httplib::Response& response) {
                   response.set_content(state->document, "application/json");
               });
    server.Get(R"(/tripwire/latest\.json\.sig)",
               [this](const httplib::Request&, httplib::Response& response) {
                   if (state->signature.empty()) {
                       response.status = 404;
                       response.set_content("not signed\n", "text/plain");
                       return;
                   }
                   response.set_content(state->signature, "text/plain");
               });
    server.Get(R"(/files/([^/]+))",
               [this](const httplib::Request& request, httplib::Response& response) {
                   if (request.matches[1] != state->description.fileName) {
                       response.status = 404;
                       response.set_content("no such file\n", "text/plain");
                       return;
                   }
                   state->serveArchive(response);
               });
    server.set_logger([this](const httplib::Request& request, const httplib::Response& response) {
        state->logRequest(request, response);
    });
}

ArchiveServer::~ArchiveServer() = default;

void ArchiveServer::signWith(const MinisignKey& key) {
    state->signingKey = key;
}

int ArchiveServer::bind(const std::string& address, int port) {
    if (!isLoopbackAddress(address))
        throw std::runtime_error("refusing to listen on " + address +
                                 ": only a loopback address (127.0.0.0/8 or ::1) is allowed");
    int bound = port;
    if (port == 0) {
        bound = state->server.bind_to_any_port(address);
    } else if (!state->server.bind_to_port(address, port)) {
        bound = -1;
    }
    if (bound <= 0)
        throw std::runtime_error("cannot listen on " + baseUrlFor(address, port));
    base = baseUrlFor(address, bound);
    state->document = latestDocument(state->description, base);
    if (state->signingKey)
        state->signature =
            minisignSignature(*state->signingKey, state->document,
                              "tripwire-sample-server " + state->description.version);
    return bound;
}

bool ArchiveServer::serve() {
    return state->server.listen_after_bind();
}

bool ArchiveServer::isServing() const {
    return state->server.is_running();
}

void ArchiveServer::stop() {
    state->server.stop();
}

} // namespace sample::server
