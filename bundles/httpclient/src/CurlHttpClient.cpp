#include <foundation/httpclient/CurlHttpClient.h>

#include <fl/filesystem/unique_fd.h>

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace foundation::httpclient {

using httpclient_core::HttpError;
using httpclient_core::HttpRequest;
using httpclient_core::HttpResponse;
using httpclient_core::ProgressCallback;

namespace {

// Error bodies of downloads are kept for messages only; a misbehaving server cannot fill memory.
constexpr std::size_t MAX_ERROR_BODY = 64 * 1024;

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool startsWithIgnoringCase(const std::string& text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

std::string withoutFragment(const std::string& url) {
    return url.substr(0, url.find('#'));
}

std::string trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

struct CurlHandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct DigestDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

} // namespace

// What a download has put into its file so far, over all its attempts. Every byte is digested
// as it is written, so the digest of the whole file never needs a second read.
struct CurlHttpClient::Received {
    // Writeback is started every this many bytes: the caller's final fsync then finds little
    // left, and the disk works while the network does.
    static constexpr std::uint64_t WRITEBACK_STEP = std::uint64_t{8} << 20;

    int fd = -1;
    std::string fileName;
    std::unique_ptr<EVP_MD_CTX, DigestDeleter> digest{EVP_MD_CTX_new()};
    std::uint64_t written = 0;
    std::uint64_t writebackFrom = 0;
    /// The whole length, when the answer kept announced it.
    std::optional<std::uint64_t> total;
    /// The strong ETag, else the Last-Modified, of the answer kept; a resumed answer must carry
    /// the same. Empty: the answer cannot be resumed.
    std::string validator;
    bool validatorIsEtag = false;
    bool resumed = false;
    /// A ranged answer did not continue the kept bytes: the next attempt starts from zero.
    bool restart = false;

    Received(int fileDescriptor, std::string name) : fd(fileDescriptor), fileName(std::move(name)) {
        if (!startDigest())
            throw HttpError(HttpError::Kind::OTHER, "cannot start a SHA-256 digest");
    }

    bool startDigest() {
        return digest && EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) == 1;
    }
    bool canResume() const { return written > 0 && !validator.empty(); }
    // Empties the file for an answer that starts from zero.
    bool reset() {
        if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0 || !startDigest())
            return false;
        written = writebackFrom = 0;
        total.reset();
        validator.clear();
        resumed = false;
        return true;
    }
    bool append(const char* data, size_t size) {
        size_t done = 0;
        while (done < size) {
            const auto n = ::write(fd, data + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            done += static_cast<size_t>(n);
        }
        EVP_DigestUpdate(digest.get(), data, size);
        written += size;
        if (written - writebackFrom >= WRITEBACK_STEP) {
            ::sync_file_range(fd, static_cast<off64_t>(writebackFrom),
                              static_cast<off64_t>(written - writebackFrom), SYNC_FILE_RANGE_WRITE);
            writebackFrom = written;
        }
        return true;
    }
    std::string hex() {
        unsigned char value[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(digest.get(), value, &length);
        return httpclient_core::lowerHex(value, length);
    }
};

namespace {

std::optional<std::uint64_t> numberIn(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// The state that curl's callbacks share during one request.
struct Transfer {
    HttpResponse response;
    CurlHttpClient::Received* received = nullptr;
    const ProgressCallback* progress = nullptr;
    const std::atomic<bool>* closed = nullptr;
    std::optional<std::string> fileError;
    std::size_t maxBody = 0;
    bool tooLarge = false;
    /// The answer's first body bytes have been judged (see accept).
    bool decided = false;
    bool refusedByCaller = false;

    bool writesToFile() const { return received && response.isSuccess(); }

    // Whether a ranged answer continues exactly the bytes kept, from the same file version.
    bool continuesKeptBytes() const {
        const auto& kept = *received;
        const auto range = httpclient_core::findHeader(response.headers, "Content-Range");
        const auto validator = httpclient_core::findHeader(
            response.headers, kept.validatorIsEtag ? "ETag" : "Last-Modified");
        if (!range || !range->starts_with("bytes ") || validator != kept.validator)
            return false;
        const std::string_view text = std::string_view(*range).substr(6);
        const auto dash = text.find('-'), slash = text.find('/');
        if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
            return false;
        const auto first = numberIn(text.substr(0, dash));
        const auto last = numberIn(text.substr(dash + 1, slash - dash - 1));
        const auto whole = numberIn(text.substr(slash + 1));
        return first == kept.written && whole && last && *last + 1 == *whole &&
               (!kept.total || kept.total == whole);
    }

    // Before the first byte of a successful answer is written: a ranged answer must continue
    // the kept bytes, any other starts the file again; the caller hears the total first and may
    // still refuse (to check free space, for instance) with nothing written.
    bool accept() {
        decided = true;
        auto& kept = *received;
        if (response.status == 206 && kept.written > 0) {
            if (!continuesKeptBytes()) {
                kept.restart = true;
                return false;
            }
            kept.resumed = true;
            const auto range = *httpclient_core::findHeader(response.headers, "Content-Range");
            kept.total = numberIn(range.substr(range.find('/') + 1));
        } else {
            if (kept.written > 0 && !kept.reset()) {
                fileError = std::strerror(errno);
                return false;
            }
            if (const auto length = httpclient_core::findHeader(response.headers, "Content-Length"))
                kept.total = numberIn(*length);
            const auto etag = httpclient_core::findHeader(response.headers, "ETag");
            const auto modified = httpclient_core::findHeader(response.headers, "Last-Modified");
            // Only a strong tag may ask for a range; a weak one does not promise the same bytes.
            kept.validatorIsEtag = etag && !etag->starts_with("W/");
            kept.validator = kept.validatorIsEtag ? *etag : modified.value_or("");
        }
        if (progress && *progress && !(*progress)(kept.written, kept.total)) {
            refusedByCaller = true;
            return false;
        }
        return true;
    }
};

// Each response (redirects and proxy challenges included) starts with a status line; only the
// last response's fields are kept.
size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        transfer.response.headers.clear();
        transfer.response.body.clear();
        transfer.decided = false;
        const auto space = line.find(' ');
        transfer.response.status = space == std::string_view::npos
                                       ? 0
                                       : std::atoi(std::string(line.substr(space + 1, 3)).c_str());
        return size * count;
    }
    const auto colon = line.find(':');
    if (colon != std::string_view::npos && colon > 0 && line[0] != ' ' && line[0] != '\t')
        transfer.response.headers.emplace_back(trim(line.substr(0, colon)),
                                               trim(line.substr(colon + 1)));
    return size * count;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const size_t total = size * count;
    if (transfer.writesToFile()) {
        if (!transfer.decided && !transfer.accept())
            return 0;
        if (!transfer.received->append(data, total)) {
            transfer.fileError = std::strerror(errno);
            return 0;
        }
        return total;
    }
    if (transfer.received) {
        const auto room = MAX_ERROR_BODY - std::min(MAX_ERROR_BODY, transfer.response.body.size());
        transfer.response.body.append(data, std::min(room, total));
        return total;
    }
    if (total > transfer.maxBody - std::min(transfer.maxBody, transfer.response.body.size())) {
        transfer.tooLarge = true;
        return 0;
    }
    transfer.response.body.append(data, total);
    return total;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto& transfer = *static_cast<Transfer*>(user);
    if (transfer.closed && *transfer.closed)
        return 1;
    if (!transfer.progress || !*transfer.progress || !transfer.writesToFile() || !transfer.decided)
        return 0;
    // Counted over the whole file: a resumed answer goes on from the bytes kept.
    return (*transfer.progress)(transfer.received->written, transfer.received->total) ? 0 : 1;
}

// Adds the extra certificate authorities to those libcurl loaded from the system.
CURLcode addExtraAuthorities(CURL*, void* context, void* file) {
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(context));
    return X509_STORE_load_file(store, static_cast<const char*>(file)) == 1
               ? CURLE_OK
               : CURLE_SSL_CACERT_BADFILE;
}

bool worthRetrying(HttpError::Kind kind) {
    return kind == HttpError::Kind::CONNECT || kind == HttpError::Kind::STALLED ||
           kind == HttpError::Kind::TRUNCATED;
}

HttpError::Kind kindOf(CURLcode code, const std::string& detail, long redirects) {
    // A proxy that refuses the tunnel shows up as a receive error; name the proxy instead.
    if (detail.find("CONNECT tunnel failed") != std::string::npos)
        return HttpError::Kind::PROXY;
    switch (code) {
    case CURLE_PROXY:
        return HttpError::Kind::PROXY;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return redirects > 0 ? HttpError::Kind::INSECURE_REDIRECT
                             : HttpError::Kind::INVALID_REQUEST;
    case CURLE_URL_MALFORMAT:
        return HttpError::Kind::INVALID_REQUEST;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        return HttpError::Kind::CONNECT;
    case CURLE_COULDNT_RESOLVE_PROXY:
        return HttpError::Kind::PROXY;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_USE_SSL_FAILED:
        return HttpError::Kind::TLS;
    case CURLE_OPERATION_TIMEDOUT:
        if (detail.find("too slow") != std::string::npos)
            return HttpError::Kind::STALLED;
        if (detail.find("onnection timed out") != std::string::npos ||
            detail.find("onnection timeout") != std::string::npos)
            return HttpError::Kind::CONNECT;
        return HttpError::Kind::TIMEOUT;
    case CURLE_PARTIAL_FILE:
        return HttpError::Kind::TRUNCATED;
    case CURLE_TOO_MANY_REDIRECTS:
        return HttpError::Kind::TOO_MANY_REDIRECTS;
    case CURLE_ABORTED_BY_CALLBACK:
        return HttpError::Kind::ABORTED;
    case CURLE_WRITE_ERROR:
        return HttpError::Kind::FILE;
    default:
        return HttpError::Kind::OTHER;
    }
}

template <typename T> void setOption(CURL* handle, CURLoption option, T value) {
    const auto code = curl_easy_setopt(handle, option, value);
    if (code != CURLE_OK)
        throw HttpError(HttpError::Kind::OTHER,
                        std::string("cannot configure the HTTP transfer: ") +
                            curl_easy_strerror(code));
}

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// The lower-case scheme and the host (IPv6 without brackets) of an absolute URL; empty
// strings when it cannot be parsed.
std::pair<std::string, std::string> schemeAndHost(const std::string& url) {
    std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return {};
    std::pair<std::string, std::string> parts;
    for (auto [part, text] :
         {std::pair{CURLUPART_SCHEME, &parts.first}, std::pair{CURLUPART_HOST, &parts.second}}) {
        char* value = nullptr;
        if (curl_url_get(parsed.get(), part, &value, 0) != CURLUE_OK || !value)
            return {};
        *text = value;
        curl_free(value);
    }
    for (std::string* text : {&parts.first, &parts.second})
        std::transform(text->begin(), text->end(), text->begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (parts.second.size() > 2 && parts.second.front() == '[')
        parts.second = parts.second.substr(1, parts.second.size() - 2);
    return parts;
}

bool isLoopbackHost(const std::string& host) {
    if (host == "localhost" || host == "localhost.")
        return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
        return std::memcmp(&v6, &in6addr_loopback, sizeof v6) == 0 ||
               (std::memcmp(v6.s6_addr, mapped, 12) == 0 && v6.s6_addr[12] == 127);
    }
    return false;
}

bool isRedirectStatus(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

bool redirectAllowed(const std::string& from, const std::string& to) {
    const auto [fromScheme, fromHost] = schemeAndHost(from);
    const auto [toScheme, toHost] = schemeAndHost(to);
    if (toScheme == "https")
        return !toHost.empty();
    return toScheme == "http" && fromScheme == "http" && isLoopbackHost(fromHost) &&
           isLoopbackHost(toHost);
}

std::string allowedRedirectProtocols(const std::string& url) {
    return startsWithIgnoringCase(url, "https:") ? "https" : "http,https";
}

CurlHttpClient::CurlHttpClient(ProxyChooser chooseProxy, CurlHttpClientOptions options)
    : chooseProxy_(std::move(chooseProxy)), options_(options) {
    initialiseCurlOnce();
}

HttpResponse CurlHttpClient::send(const HttpRequest& request) {
    return download(request, {}, {});
}

void CurlHttpClient::close() noexcept {
    {
        std::lock_guard lock(closing_);
        closed_ = true;
    }
    closedSignal_.notify_all();
}

bool CurlHttpClient::waitBeforeRetry(std::chrono::milliseconds delay) {
    std::unique_lock lock(closing_);
    return !closedSignal_.wait_for(lock, delay, [this] { return closed_.load(); });
}

HttpResponse CurlHttpClient::download(const HttpRequest& request, const std::filesystem::path& file,
                                      const ProgressCallback& progress) {
    if (file.empty())
        return exchange(request, nullptr, progress);
    const std::string url = withoutFragment(request.url);
    if (closed_)
        throw HttpError(HttpError::Kind::ABORTED, "the HTTP client has been closed: " + url);
    if (!startsWithIgnoringCase(url, "http://") && !startsWithIgnoringCase(url, "https://"))
        throw HttpError(HttpError::Kind::INVALID_REQUEST, "not an http or https URL: " + url);
    fl::filesystem::unique_fd target(
        ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (target.get() < 0)
        throw HttpError(HttpError::Kind::FILE,
                        "cannot open " + file.string() + " for writing: " + std::strerror(errno));

    Received received(target.get(), file.string());
    for (int retry = 0;;) {
        HttpRequest attempt = request;
        if (received.canResume()) {
            attempt.headers.emplace_back("Range",
                                         "bytes=" + std::to_string(received.written) + "-");
            attempt.headers.emplace_back("If-Range", received.validator);
        }
        HttpResponse response;
        try {
            response = exchange(attempt, &received, progress);
        } catch (const HttpError& error) {
            // A ranged answer that does not fit is no failure of the network: start again now.
            if (std::exchange(received.restart, false) && received.reset())
                continue;
            if (retry >= options_.retries || !worthRetrying(error.kind()))
                throw;
            if (!waitBeforeRetry(options_.retryDelay * (1 << retry)))
                throw HttpError(HttpError::Kind::ABORTED,
                                "aborted: the HTTP client was closed while waiting to retry (" +
                                    url + ")");
            ++retry;
            continue;
        }
        if (::close(target.release()) != 0)
            throw HttpError(HttpError::Kind::FILE,
                            "cannot write " + file.string() + ": " + std::strerror(errno));
        if (response.isSuccess())
            response.sha256 = received.hex();
        // The caller asked for the whole file and has it: answer as the whole file would.
        if (received.resumed && response.status == 206) {
            response.status = 200;
            std::erase_if(response.headers, [](const auto& field) {
                return startsWithIgnoringCase(field.first, "content-range") ||
                       startsWithIgnoringCase(field.first, "content-length");
            });
            response.headers.emplace_back("Content-Length", std::to_string(received.written));
        }
        return response;
    }
}

HttpResponse CurlHttpClient::exchange(const HttpRequest& request, Received* received,
                                      const ProgressCallback& progress) {
    std::string url = withoutFragment(request.url);
    if (closed_)
        throw HttpError(HttpError::Kind::ABORTED, "the HTTP client has been closed: " + url);
    if (!startsWithIgnoringCase(url, "http://") && !startsWithIgnoringCase(url, "https://"))
        throw HttpError(HttpError::Kind::INVALID_REQUEST, "not an http or https URL: " + url);

    std::unique_ptr<CURL, CurlHandleDeleter> handle(curl_easy_init());
    if (!handle)
        throw HttpError(HttpError::Kind::OTHER, "cannot create an HTTP transfer");
    CURL* h = handle.get();

    Transfer transfer;
    transfer.received = received;
    transfer.progress = &progress;
    transfer.closed = &closed_;
    transfer.maxBody = options_.maxResponseBytes;
    char errorText[CURL_ERROR_SIZE] = {};

    setOption(h, CURLOPT_ERRORBUFFER, errorText);
    setOption(h, CURLOPT_NOSIGNAL, 1L);
    setOption(h, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are followed here, one hop at a time, so that each new location is checked
    // before anything connects to it.
    setOption(h, CURLOPT_FOLLOWLOCATION, 0L);
    setOption(h, CURLOPT_SSL_VERIFYPEER, 1L);
    setOption(h, CURLOPT_SSL_VERIFYHOST, 2L);
    setOption(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.connectTimeout.count()));
    setOption(h, CURLOPT_LOW_SPEED_LIMIT, options_.stallBytesPerSecond);
    setOption(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options_.stallTime.count()));
    setOption(h, CURLOPT_HEADERFUNCTION, &onHeader);
    setOption(h, CURLOPT_HEADERDATA, &transfer);
    setOption(h, CURLOPT_WRITEFUNCTION, &onBody);
    setOption(h, CURLOPT_WRITEDATA, &transfer);
    setOption(h, CURLOPT_XFERINFOFUNCTION, &onProgress);
    setOption(h, CURLOPT_XFERINFODATA, &transfer);
    setOption(h, CURLOPT_NOPROGRESS, 0L);
    // Large reads: far fewer callbacks and system calls per byte than the default 16 KiB.
    setOption(h, CURLOPT_BUFFERSIZE, 512L * 1024);
    if (!options_.extraCaFile.empty()) {
        setOption(h, CURLOPT_SSL_CTX_FUNCTION, &addExtraAuthorities);
        setOption(h, CURLOPT_SSL_CTX_DATA, options_.extraCaFile.c_str());
    }

    if (request.method == "HEAD") {
        setOption(h, CURLOPT_NOBODY, 1L);
    } else if (request.method != "GET" || !request.body.empty()) {
        if (request.method != "POST")
            setOption(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        if (!request.body.empty() || request.method == "POST") {
            setOption(h, CURLOPT_POSTFIELDS, request.body.data());
            setOption(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        }
    }

    const std::string firstHost = schemeAndHost(url).second;
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    // Credentials go to the host they were meant for only, as libcurl does when it follows.
    const auto setHeaders = [&](bool withAuthorization) {
        headers.reset();
        for (const auto& [name, value] : request.headers) {
            if (!withAuthorization && startsWithIgnoringCase(name, "authorization") &&
                name.size() == 13)
                continue;
            const std::string line = value.empty() ? name + ";" : name + ": " + value;
            curl_slist* appended = curl_slist_append(headers.get(), line.c_str());
            if (!appended)
                throw HttpError(HttpError::Kind::OTHER, "cannot build the request headers");
            headers.release();
            headers.reset(appended);
        }
        setOption(h, CURLOPT_HTTPHEADER, headers.get());
    };
    setHeaders(true);

    const auto deadline = std::chrono::steady_clock::now() + request.timeout;
    long redirects = 0;
    for (;;) {
        setOption(h, CURLOPT_URL, url.c_str());
        if (request.timeout.count() > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            setOption(h, CURLOPT_TIMEOUT_MS, std::max(1L, static_cast<long>(left.count())));
        }
        // An empty proxy text stops libcurl from falling back to the process's proxy
        // variables: the host's proxy service alone decides.
        const ProxyChoice proxy = chooseProxy_ ? chooseProxy_(url) : ProxyChoice{};
        setOption(h, CURLOPT_PROXY, proxy.proxyUrl.c_str());
        setOption(h, CURLOPT_NOPROXY, "");
        if (!proxy.proxyUrl.empty() && proxy.hasCredentials) {
            setOption(h, CURLOPT_PROXYUSERNAME, proxy.username.c_str());
            setOption(h, CURLOPT_PROXYPASSWORD, proxy.password.c_str());
            setOption(h, CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_ANY));
        }

        const CURLcode code = curl_easy_perform(h);

        char* effective = nullptr;
        if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
            transfer.response.effectiveUrl = effective;
        if (code != CURLE_OK) {
            std::string detail = errorText[0] ? errorText : curl_easy_strerror(code);
            auto kind = kindOf(code, detail, redirects);
            if (transfer.fileError) {
                detail = "cannot write " + received->fileName + ": " + *transfer.fileError;
            } else if (code == CURLE_ABORTED_BY_CALLBACK && closed_) {
                detail = "the HTTP client was closed while the transfer ran";
            } else if (transfer.refusedByCaller) {
                kind = HttpError::Kind::ABORTED;
                detail = "the caller refused the answer before its body was written";
            }
            if (transfer.tooLarge) {
                kind = HttpError::Kind::TOO_LARGE;
                detail = "the answer is larger than " + std::to_string(transfer.maxBody) + " bytes";
            }
            throw HttpError(kind, std::string(httpclient_core::kindName(kind)) + ": " + detail +
                                      " (" + url + ")");
        }
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        transfer.response.status = static_cast<int>(status);
        char* location = nullptr;
        if (!isRedirectStatus(status) ||
            curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location) != CURLE_OK || !location)
            break;

        const std::string next = location;
        if (++redirects > options_.maxRedirects)
            throw HttpError(
                HttpError::Kind::TOO_MANY_REDIRECTS,
                std::string(httpclient_core::kindName(HttpError::Kind::TOO_MANY_REDIRECTS)) +
                    ": more than " + std::to_string(options_.maxRedirects) + " redirects (" + url +
                    ")");
        if (!redirectAllowed(url, next))
            throw HttpError(
                HttpError::Kind::INSECURE_REDIRECT,
                std::string(httpclient_core::kindName(HttpError::Kind::INSECURE_REDIRECT)) +
                    ": refused to follow " + url + " to " + withoutFragment(next));
        // As browsers do: a 303, and a 301 or 302 after a POST, continue with a GET.
        if (request.method != "HEAD" &&
            (status == 303 || ((status == 301 || status == 302) && request.method == "POST")))
            setOption(h, CURLOPT_HTTPGET, 1L);
        url = withoutFragment(next);
        setHeaders(schemeAndHost(url).second == firstHost);
    }
    return std::move(transfer.response);
}

} // namespace foundation::httpclient
