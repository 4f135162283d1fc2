#include <foundation/httpclient/CurlHttpClient.h>

#include <curl/curl.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

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
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// The state that curl's callbacks share during one request.
struct Transfer {
    HttpResponse response;
    int fileDescriptor = -1;
    const ProgressCallback* progress = nullptr;
    const std::atomic<bool>* closed = nullptr;
    std::optional<std::string> fileError;

    bool writesToFile() const { return fileDescriptor >= 0 && response.isSuccess(); }
};

// Each response (redirects and proxy challenges included) starts with a status line; only the
// last response's fields are kept.
size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        transfer.response.headers.clear();
        transfer.response.body.clear();
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
        size_t written = 0;
        while (written < total) {
            const auto n = ::write(transfer.fileDescriptor, data + written, total - written);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                transfer.fileError = std::strerror(errno);
                return 0;
            }
            written += static_cast<size_t>(n);
        }
        return total;
    }
    if (transfer.fileDescriptor >= 0) {
        const auto room = MAX_ERROR_BODY - std::min(MAX_ERROR_BODY, transfer.response.body.size());
        transfer.response.body.append(data, std::min(room, total));
        return total;
    }
    transfer.response.body.append(data, total);
    return total;
}

int onProgress(void* user, curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t,
               curl_off_t) {
    auto& transfer = *static_cast<Transfer*>(user);
    if (transfer.closed && *transfer.closed)
        return 1;
    if (!transfer.progress || !*transfer.progress || !transfer.writesToFile())
        return 0;
    std::optional<std::uint64_t> total;
    if (downloadTotal > 0)
        total = static_cast<std::uint64_t>(downloadTotal);
    return (*transfer.progress)(static_cast<std::uint64_t>(downloaded), total) ? 0 : 1;
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

} // namespace

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

HttpResponse CurlHttpClient::download(const HttpRequest& request, const std::filesystem::path& file,
                                      const ProgressCallback& progress) {
    const std::string url = withoutFragment(request.url);
    if (closed_)
        throw HttpError(HttpError::Kind::ABORTED, "the HTTP client has been closed: " + url);
    if (!startsWithIgnoringCase(url, "http://") && !startsWithIgnoringCase(url, "https://"))
        throw HttpError(HttpError::Kind::INVALID_REQUEST, "not an http or https URL: " + url);

    std::optional<FileDescriptor> target;
    if (!file.empty()) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
            throw HttpError(HttpError::Kind::FILE, "cannot open " + file.string() +
                                                       " for writing: " + std::strerror(errno));
        target.emplace(fd);
    }

    std::unique_ptr<CURL, CurlHandleDeleter> handle(curl_easy_init());
    if (!handle)
        throw HttpError(HttpError::Kind::OTHER, "cannot create an HTTP transfer");
    CURL* h = handle.get();

    Transfer transfer;
    transfer.fileDescriptor = target ? target->get() : -1;
    transfer.progress = &progress;
    transfer.closed = &closed_;
    char errorText[CURL_ERROR_SIZE] = {};

    setOption(h, CURLOPT_URL, url.c_str());
    setOption(h, CURLOPT_ERRORBUFFER, errorText);
    setOption(h, CURLOPT_NOSIGNAL, 1L);
    setOption(h, CURLOPT_PROTOCOLS_STR, "http,https");
    setOption(h, CURLOPT_FOLLOWLOCATION, 1L);
    setOption(h, CURLOPT_MAXREDIRS, options_.maxRedirects);
    const std::string redirectProtocols = allowedRedirectProtocols(url);
    setOption(h, CURLOPT_REDIR_PROTOCOLS_STR, redirectProtocols.c_str());
    setOption(h, CURLOPT_SSL_VERIFYPEER, 1L);
    setOption(h, CURLOPT_SSL_VERIFYHOST, 2L);
    setOption(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.connectTimeout.count()));
    setOption(h, CURLOPT_LOW_SPEED_LIMIT, options_.stallBytesPerSecond);
    setOption(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options_.stallTime.count()));
    if (request.timeout.count() > 0)
        setOption(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
    setOption(h, CURLOPT_HEADERFUNCTION, &onHeader);
    setOption(h, CURLOPT_HEADERDATA, &transfer);
    setOption(h, CURLOPT_WRITEFUNCTION, &onBody);
    setOption(h, CURLOPT_WRITEDATA, &transfer);
    setOption(h, CURLOPT_XFERINFOFUNCTION, &onProgress);
    setOption(h, CURLOPT_XFERINFODATA, &transfer);
    setOption(h, CURLOPT_NOPROGRESS, 0L);

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

    std::unique_ptr<curl_slist, SlistDeleter> headers;
    for (const auto& [name, value] : request.headers) {
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        curl_slist* appended = curl_slist_append(headers.get(), line.c_str());
        if (!appended)
            throw HttpError(HttpError::Kind::OTHER, "cannot build the request headers");
        headers.release();
        headers.reset(appended);
    }
    if (headers)
        setOption(h, CURLOPT_HTTPHEADER, headers.get());

    // An empty proxy text stops libcurl from falling back to the process's proxy variables: the
    // host's proxy service alone decides.
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
        long redirects = 0;
        curl_easy_getinfo(h, CURLINFO_REDIRECT_COUNT, &redirects);
        std::string detail = errorText[0] ? errorText : curl_easy_strerror(code);
        if (transfer.fileError)
            detail = "cannot write " + file.string() + ": " + *transfer.fileError;
        else if (code == CURLE_ABORTED_BY_CALLBACK && closed_)
            detail = "the HTTP client was closed while the transfer ran";
        const auto kind = kindOf(code, detail, redirects);
        throw HttpError(kind, std::string(httpclient_core::kindName(kind)) + ": " + detail + " (" +
                                  url + ")");
    }
    if (target && ::close(target->release()) != 0)
        throw HttpError(HttpError::Kind::FILE,
                        "cannot write " + file.string() + ": " + std::strerror(errno));
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    transfer.response.status = static_cast<int>(status);
    return std::move(transfer.response);
}

} // namespace foundation::httpclient
