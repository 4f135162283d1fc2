#include <tripwire/testsupport/ForwardProxy.h>

#include <httplib.h>

#include <chrono>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <thread>

namespace tripwire::testsupport {

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
    s->port = s->server.bind_to_any_port("127.0.0.1");
    if (s->port <= 0)
        throw std::runtime_error("cannot bind a loopback port for the test proxy");
    s->thread = std::thread([s] { s->server.listen_after_bind(); });
    while (!s->server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
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

} // namespace tripwire::testsupport
