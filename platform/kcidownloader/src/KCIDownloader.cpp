#include <halvexconnector/latestversion/kcidownloader/DownloadUrl.h>
#include <halvexconnector/latestversion/kcidownloader/KCIDownloader.h>

#include "FileDigest.h"

#include <fl/filesystem/path_conversion.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

namespace halvexconnector::latestversion::kcidownloader {

namespace fs = std::filesystem;
using foundation::httpclient_core::HttpError;
using Reason = DownloadError::Reason;

namespace {

[[noreturn]] void fail(Reason reason, const DownloadUrl& url, const std::string& why) {
    throw DownloadError(reason, "download of " + url.location + " failed: " + why);
}

std::string systemError(const std::string& what, const fs::path& path) {
    return what + " " + path.string() + ": " + std::strerror(errno);
}

// Creates each missing component owner-only; existing directories keep their permissions. The
// directory the archive lands in must be the running user's and shut to others: a directory
// that another user prepared could have the archive swapped after it was verified.
void createDirectories(const fs::path& directory, const DownloadUrl& url) {
    fs::path partial;
    struct stat info {};
    for (const auto& component : directory) {
        partial /= component;
        if (::mkdir(partial.c_str(), 0700) == 0 || errno == EEXIST) {
            if (::stat(partial.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
                fail(Reason::FILE_SYSTEM, url, "not a directory: " + partial.string());
            continue;
        }
        fail(Reason::FILE_SYSTEM, url, systemError("cannot create the directory", partial));
    }
    if (info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        fail(Reason::FILE_SYSTEM, url,
             "another user owns or may write the download directory " + directory.string());
}

// The temporary file of one download; removed unless it was renamed into place.
class PartialFile {
public:
    PartialFile(const fs::path& directory, const DownloadUrl& url) {
        std::string pattern = (directory / ".download-XXXXXX").string();
        const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0)
            fail(Reason::FILE_SYSTEM, url, systemError("cannot create a file in", directory));
        ::close(fd);
        path_ = pattern;
    }
    ~PartialFile() {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    const fs::path& path() const { return path_; }
    void keep() { path_.clear(); }

private:
    fs::path path_;
};

Reason reasonOf(HttpError::Kind kind) {
    switch (kind) {
    case HttpError::Kind::STALLED:
        return Reason::STALLED;
    case HttpError::Kind::TLS:
        return Reason::TLS;
    case HttpError::Kind::TRUNCATED:
        return Reason::TRUNCATED;
    case HttpError::Kind::FILE:
        return Reason::FILE_SYSTEM;
    case HttpError::Kind::INSECURE_REDIRECT:
        return Reason::INSECURE_URL;
    case HttpError::Kind::INVALID_REQUEST:
        return Reason::INVALID_URL;
    default:
        return Reason::TRANSFER;
    }
}

void requireSafeTransport(const std::string& scheme, const std::string& host,
                          const DownloadUrl& url) {
    if (scheme != "https" && !isLoopbackHost(host))
        fail(Reason::INSECURE_URL, url,
             "plain http is only allowed to a loopback address; an installer must not travel in "
             "the clear");
}

// Room kept beyond the archive itself, for the file system's own bookkeeping: a sixty-fourth of
// it and 64 KiB.
constexpr std::uint64_t SPACE_MARGIN = 64 * 1024;

// The bytes an unprivileged writer may still use on the file system of `directory`, or of its
// nearest existing ancestor.
std::optional<std::uint64_t> freeBytes(fs::path directory) {
    struct statvfs info {};
    while (::statvfs(directory.c_str(), &info) != 0) {
        if (errno != ENOENT || !directory.has_relative_path())
            return std::nullopt;
        directory = directory.parent_path();
    }
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

// Why `bytes` more do not fit into `directory`; nothing when they do (or when unknown).
std::optional<std::string> lackOfSpace(const fs::path& directory, std::uint64_t bytes) {
    const auto available = freeBytes(directory);
    const std::uint64_t needed = bytes + bytes / 64 + SPACE_MARGIN;
    if (!available || needed <= *available)
        return std::nullopt;
    return "not enough free space in " + directory.string() + ": the archive needs " +
           std::to_string(needed) + " bytes (" + std::to_string(bytes) + " and a margin), " +
           std::to_string(*available) + " are free";
}

void flushToDisk(const fs::path& file, const DownloadUrl& url) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const std::string why = systemError("cannot flush", file);
        if (fd >= 0)
            ::close(fd);
        fail(Reason::FILE_SYSTEM, url, why);
    }
    ::close(fd);
}

void flushDirectory(const fs::path& directory) {
    // Best effort: the rename is durable once the directory entry is on disk.
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

KCIDownloader::KCIDownloader(std::shared_ptr<foundation::httpclient_core::HttpClient> client)
    : client(std::move(client)) {}

fl::filesystem::basic_path KCIDownloader::fetchKCI(const std::string& url,
                                                   const fl::filesystem::basic_path& directory) {
    const DownloadUrl target = parseDownloadUrl(url);
    requireSafeTransport(target.scheme, target.host, target);
    if (!client)
        fail(Reason::NO_CLIENT, target, "no HTTP client service is available");
    if (directory.empty())
        fail(Reason::FILE_SYSTEM, target, "no download directory given");

    const fs::path nativeDirectory = fl::filesystem::to_native(directory);
    // The announced size is checked before anything is created, the server's length before the
    // first byte is written (the client announces it first).
    std::optional<std::string> noSpace =
        target.size ? lackOfSpace(nativeDirectory, *target.size) : std::nullopt;
    if (noSpace)
        fail(Reason::NO_SPACE, target, *noSpace);
    createDirectories(nativeDirectory, target);
    PartialFile partial(nativeDirectory, target);

    foundation::httpclient_core::HttpRequest request;
    request.url = target.location;
    foundation::httpclient_core::HttpResponse response;
    bool lengthChecked = false;
    const auto checkLength = [&](std::uint64_t received, std::optional<std::uint64_t> total) {
        if (lengthChecked || !total || *total < received)
            return true;
        lengthChecked = true;
        noSpace = lackOfSpace(nativeDirectory, *total - received);
        return !noSpace;
    };
    try {
        response = client->download(request, partial.path(), checkLength);
    } catch (const HttpError& error) {
        if (noSpace)
            fail(Reason::NO_SPACE, target, *noSpace);
        fail(reasonOf(error.kind()), target, error.what());
    }
    if (response.status != 200)
        fail(Reason::HTTP_STATUS, target, "HTTP status " + std::to_string(response.status));
    if (!response.effectiveUrl.empty() && response.effectiveUrl != target.location) {
        // A redirect must not lead an https download, or a loopback one, into the clear.
        const DownloadUrl landed = parseDownloadUrl(response.effectiveUrl);
        requireSafeTransport(landed.scheme, landed.host, target);
    }

    std::error_code error;
    const auto received = fs::file_size(partial.path(), error);
    if (error)
        fail(Reason::FILE_SYSTEM, target,
             "cannot inspect " + partial.path().string() + ": " + error.message());
    if (const auto announced =
            foundation::httpclient_core::findHeader(response.headers, "Content-Length")) {
        if (*announced != std::to_string(received))
            fail(Reason::SIZE_MISMATCH, target,
                 "received " + std::to_string(received) + " bytes, Content-Length announced " +
                     *announced);
    }
    if (target.sha256) {
        // The client digests the bytes as they arrive; one that does not leaves it to a read.
        const std::string actual =
            response.sha256.empty() ? sha256OfFile(partial.path()) : response.sha256;
        if (actual != *target.sha256)
            fail(Reason::DIGEST_MISMATCH, target,
                 "SHA-256 mismatch: expected " + *target.sha256 + ", got " + actual);
    }

    flushToDisk(partial.path(), target);
    const fs::path finalPath = nativeDirectory / target.fileName;
    if (::rename(partial.path().c_str(), finalPath.c_str()) != 0)
        fail(Reason::FILE_SYSTEM, target, systemError("cannot rename the download to", finalPath));
    partial.keep();
    flushDirectory(nativeDirectory);
    return fl::filesystem::path_from_native(finalPath, true);
}

} // namespace halvexconnector::latestversion::kcidownloader
