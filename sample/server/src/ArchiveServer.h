#pragma once

#include "ArchiveDescription.h"
#include "MinisignKey.h"

#include <iosfwd>
#include <memory>
#include <string>

namespace sample::server {

class ArchiveFile;

// The HTTP side: GET /tripwire/latest.json answers the latest-version document, GET
// /tripwire/latest.json.sig its minisign signature (when a key was given), GET
// /files/<name> streams the archive in chunks; everything else is 404. One line a request goes to
// `requestLog` once the response is sent.
class ArchiveServer {
public:
    static constexpr const char* LATEST_PATH = "/tripwire/latest.json";

    ArchiveServer(std::shared_ptr<const ArchiveFile> archive, ArchiveDescription description,
                  std::ostream& requestLog);
    ~ArchiveServer();
    ArchiveServer(const ArchiveServer&) = delete;
    ArchiveServer& operator=(const ArchiveServer&) = delete;

    // Binds and listens on `address` (which must be a loopback address) at `port`, 0 for one the
    // kernel picks; returns the port. Throws std::runtime_error when that fails.
    int bind(const std::string& address, int port);
    const std::string& baseUrl() const { return base; }
    // Signs the document with `key` from the next bind() on.
    void signWith(const MinisignKey& key);

    // Accepts connections until stop(); false when accepting failed.
    bool serve();
    // True once serve() has started accepting (stop() before then has nothing to stop).
    bool isServing() const;
    void stop();

private:
    struct State;
    std::unique_ptr<State> state;
    std::string base;
};

} // namespace sample::server
