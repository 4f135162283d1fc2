// tripwire-sample-server: serves one kci archive and its latest-version document on a loopback
// address, for the module's download path without any network.
//
//   tripwire-sample-server [--address ADDR] [--port N] [--port-file PATH] [--signing-key FILE]
//                          ARCHIVE
//
// Prints the base URL ("http://127.0.0.1:<port>") on one line of standard output as soon as it
// listens, one line a request on standard error, signs the document with the minisign secret
// key FILE (default: tripwire-sample-server.key beside the program, when it is there), and runs
// until SIGTERM or SIGINT. Exit status: 0 stopped by a signal; 1 the archive cannot be served or
// the port not bound; 2 bad command line (a non-loopback address included).
#include "ArchiveDescription.h"
#include "ArchiveFile.h"
#include "ArchiveServer.h"
#include "LoopbackAddress.h"

#include <CLI/CLI.hpp>

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <csignal>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace sample::server;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// Sent to the main thread when the listener ends on its own (accepting failed).
constexpr int kListenerEnded = SIGUSR1;

struct Options {
    fs::path archive;
    std::string address = "127.0.0.1";
    int port = 0;
    std::optional<fs::path> portFile;
    std::optional<fs::path> signingKey;
};

// The build puts the sample's secret key beside the program; an installed server has none.
std::optional<fs::path> defaultSigningKey() {
    std::error_code error;
    const fs::path key =
        fs::read_symlink("/proc/self/exe", error).parent_path() / "tripwire-sample-server.key";
    if (error || !fs::exists(key, error))
        return std::nullopt;
    return key;
}

// Blocks the stop signals in this thread and every thread it starts, so that the main thread
// takes them with sigwait as ordinary code. A background job of a shell starts with SIGINT
// ignored; the disposition is reset so that Ctrl-C and `kill -INT` still stop it.
sigset_t blockStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int s : {SIGTERM, SIGINT, kListenerEnded}) {
        std::signal(s, SIG_DFL);
        sigaddset(&signals, s);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // A client that goes away mid-response must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    return signals;
}

// The port, written under a temporary name and renamed, so a reader never sees half of it.
void writePortFile(const fs::path& path, int port) {
    const fs::path partial = path.string() + ".partial";
    {
        std::ofstream out(partial, std::ios::trunc);
        out << port << "\n";
        if (!out.flush())
            throw std::runtime_error("cannot write " + partial.string());
    }
    fs::rename(partial, path);
}

int run(const Options& options, const sigset_t& signals) {
    const auto archive = std::make_shared<const ArchiveFile>(options.archive);
    ArchiveDescription description = describeArchive(*archive);
    ArchiveServer server(archive, description, std::cerr);
    if (options.signingKey)
        server.signWith(readMinisignSecretKey(*options.signingKey));
    const int port = server.bind(options.address, options.port);
    if (options.portFile)
        writePortFile(*options.portFile, port);
    std::cout << server.baseUrl() << std::endl;
    std::cerr << "serving " << description.fileName << " (version " << description.version << ", "
              << description.size << " bytes, sha256 " << description.sha256 << ")" << std::endl;
    std::cerr << (options.signingKey ? "signing latest.json with " + options.signingKey->string()
                                     : std::string("latest.json is not signed"))
              << std::endl;

    const pthread_t mainThread = pthread_self();
    std::thread listener([&] {
        server.serve();
        pthread_kill(mainThread, kListenerEnded);
    });
    // stop() only stops a server that has started accepting.
    while (!server.isServing()) {
        sigset_t pending;
        if (sigpending(&pending) == 0 && sigismember(&pending, kListenerEnded))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    int received = 0;
    sigwait(&signals, &received);
    server.stop();
    listener.join();
    if (options.portFile) {
        std::error_code ignored;
        fs::remove(*options.portFile, ignored);
    }
    if (received == kListenerEnded) {
        std::cerr << "the server stopped accepting connections" << std::endl;
        return kExitFailed;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const sigset_t signals = blockStopSignals();

    CLI::App app{"Serves a kci archive and its latest-version document on a loopback address.",
                 "tripwire-sample-server"};
    Options options;
    std::string portFile, signingKey;
    app.add_option("ARCHIVE", options.archive, "the kci archive to serve")->required();
    app.add_option("--address", options.address, "numeric loopback address to listen on")
        ->default_val("127.0.0.1");
    app.add_option("--port", options.port, "port to listen on, 0 for one the kernel picks")
        ->default_val(0)
        ->check(CLI::Range(0, 65535));
    app.add_option("--port-file", portFile, "write the chosen port to this file (removed at exit)");
    app.add_option("--signing-key", signingKey,
                   "minisign secret key (unencrypted) that signs latest.json");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : kExitUsage;
    }
    if (!portFile.empty())
        options.portFile = portFile;
    options.signingKey = signingKey.empty() ? defaultSigningKey() : fs::path(signingKey);
    if (!isLoopbackAddress(options.address)) {
        std::cerr << "--address " << options.address
                  << ": only a numeric loopback address (127.0.0.0/8 or ::1) is allowed\n";
        return kExitUsage;
    }
    try {
        return run(options, signals);
    } catch (const std::exception& error) {
        std::cerr << "tripwire-sample-server: " << error.what() << "\n";
        return kExitFailed;
    }
}
