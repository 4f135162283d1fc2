#pragma once

#include <halvexconnector/latestversion/kcidownloader/DownloadError.h>

#include <foundation/httpclient_core/HttpClient.h>

#include <fl/filesystem/basic_path.h>

#include <memory>
#include <string>

namespace halvexconnector::latestversion::kcidownloader {

/// Downloads an installer archive into a directory and verifies it before it is given a name.
class KCIDownloader {
public:
    explicit KCIDownloader(std::shared_ptr<foundation::httpclient_core::HttpClient> client);

    /// Downloads `url` into `directory` (created owner-only with its parents when missing) and
    /// returns the archive's path: the directory followed by the URL's sanitised last path
    /// segment. The archive streams into a temporary file of the directory; its length is
    /// checked against Content-Length and, when the URL carries "#sha256=<hex>", its digest;
    /// only then is it flushed and renamed. Plain http is refused unless the host is a loopback
    /// address. Any failure removes the partial file and throws DownloadError.
    fl::filesystem::basic_path fetchKCI(const std::string& url,
                                        const fl::filesystem::basic_path& directory);

private:
    std::shared_ptr<foundation::httpclient_core::HttpClient> client;
};

} // namespace halvexconnector::latestversion::kcidownloader
