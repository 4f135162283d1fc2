// The staged program, run as the demo runs it: a real process, a real port on loopback.
#include <tripwire/testsupport/LoopbackServer.h>
#include <tripwire/testsupport/TempDirectory.h>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using tripwire::testsupport::sha256Hex;
using tripwire::testsupport::TempDirectory;

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One run of the server with standard output and error on pipes; killed if still running at
// the end of the test.
class ServerProcess {
public:
    explicit ServerProcess(std::vector<std::string> arguments) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        arguments.insert(arguments.begin(), SAMPLE_SERVER_PROGRAM);
        std::vector<char*> argv;
        for (auto& word : arguments)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        const int rc =
            ::posix_spawn(&pid, SAMPLE_SERVER_PROGRAM, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        stdoutFd = out[0];
        stderrFd = err[0];
        if (rc != 0)
            throw std::runtime_error("posix_spawn failed");
    }
    ~ServerProcess() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::close(stdoutFd);
        ::close(stderrFd);
    }

    // The first line of standard output; empty when the program ended without one.
    std::string readLine() {
        std::string line;
        char c;
        while (::read(stdoutFd, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    std::string readStderr() {
        std::string text;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(stderrFd, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }
    void signal(int number) { ::kill(pid, number); }
    // The exit status, or -1 when it ended by a signal.
    int wait() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid = -1;
    int stdoutFd = -1;
    int stderrFd = -1;
};

// The URL's port, or -1 when it is not "http://127.0.0.1:<port>".
int portOf(const std::string& baseUrl) {
    const std::string prefix = "http://127.0.0.1:";
    if (!baseUrl.starts_with(prefix))
        return -1;
    return std::stoi(baseUrl.substr(prefix.size()));
}

TEST(SampleServerTest, ServesTheDocumentAndTheSampleArchiveByteForByte) {
    TempDirectory dir;
    const fs::path portFile = dir / "port";
    ServerProcess server({"--port-file", portFile.string(), SAMPLE_KCI_ARCHIVE});
    const std::string base = server.readLine();
    const int port = portOf(base);
    ASSERT_GT(port, 0) << base;
    EXPECT_EQ(contentOf(portFile), std::to_string(port) + "\n");

    httplib::Client client("127.0.0.1", port);
    const auto latest = client.Get("/tripwire/latest.json");
    ASSERT_TRUE(latest);
    EXPECT_EQ(latest->status, 200);
    EXPECT_EQ(latest->get_header_value("Content-Type"), "application/json");
    const std::string archive = contentOf(SAMPLE_KCI_ARCHIVE);
    const std::string name = fs::path(SAMPLE_KCI_ARCHIVE).filename().string();
    const auto document = nlohmann::json::parse(latest->body);
    EXPECT_EQ(document, nlohmann::json({{"version", SAMPLE_KCI_VERSION},
                                        {"url", base + "/files/" + name},
                                        {"sha256", sha256Hex(archive)},
                                        {"size", archive.size()}}));

    const auto served = client.Get(("/files/" + name).c_str());
    ASSERT_TRUE(served);
    EXPECT_EQ(served->status, 200);
    EXPECT_EQ(served->get_header_value("Content-Length"), std::to_string(archive.size()));
    EXPECT_TRUE(served->body == archive) << "the served archive differs from the file";

    for (const char* path :
         {"/files/kci_0.0.0.0.zip", "/", "/tripwire/latest", "/tripwire/latest_json"}) {
        const auto missing = client.Get(path);
        ASSERT_TRUE(missing);
        EXPECT_EQ(missing->status, 404) << path;
    }
}

TEST(SampleServerTest, TakesTheVersionFromTheFileNameOfAnArchiveWithoutManifest) {
    TempDirectory dir;
    const fs::path path = dir / "kci_7.8.9.10.zip";
    std::string content;
    for (int i = 0; content.size() < 300 * 1024; ++i)
        content += std::to_string(i * 7919) + ",";
    std::ofstream(path, std::ios::binary) << content;

    ServerProcess server({path.string()});
    const std::string base = server.readLine();
    httplib::Client client("127.0.0.1", portOf(base));
    const auto latest = client.Get("/tripwire/latest.json");
    ASSERT_TRUE(latest);
    const auto document = nlohmann::json::parse(latest->body);
    EXPECT_EQ(document["version"], "7.8.9.10");
    EXPECT_EQ(document["sha256"], sha256Hex(content));
    const auto served = client.Get("/files/kci_7.8.9.10.zip");
    ASSERT_TRUE(served);
    EXPECT_TRUE(served->body == content) << "the served file differs";
}

TEST(SampleServerTest, StopsCleanlyOnTermAndIntAndRemovesThePortFile) {
    for (const int stop : {SIGTERM, SIGINT}) {
        TempDirectory dir;
        const fs::path portFile = dir / "port";
        ServerProcess server({"--port-file", portFile.string(), SAMPLE_KCI_ARCHIVE});
        const int port = portOf(server.readLine());
        ASSERT_GT(port, 0);
        server.signal(stop);
        EXPECT_EQ(server.wait(), 0) << "signal " << stop;
        EXPECT_FALSE(fs::exists(portFile));
        EXPECT_FALSE(httplib::Client("127.0.0.1", port).Get("/tripwire/latest.json"))
            << "still listening after signal " << stop;
    }
}

TEST(SampleServerTest, RefusesToListenAnywhereButOnLoopback) {
    for (const char* address : {"0.0.0.0", "::", "10.0.0.1", "192.0.2.1", "localhost"}) {
        ServerProcess server({"--address", address, SAMPLE_KCI_ARCHIVE});
        // Read first: a server that wrongly listened would otherwise keep wait() blocked.
        ASSERT_EQ(server.readLine(), "") << address;
        EXPECT_EQ(server.wait(), 2) << address;
        EXPECT_NE(server.readStderr().find("loopback"), std::string::npos) << address;
    }
    ServerProcess other({"--address", "127.0.0.2", SAMPLE_KCI_ARCHIVE});
    EXPECT_TRUE(other.readLine().starts_with("http://127.0.0.2:"));
}

TEST(SampleServerTest, AnArchiveItCannotServeEndsItWithStatusOne) {
    TempDirectory dir;
    std::ofstream(dir / "installer.zip") << "not a zip and no version in the name";
    for (const fs::path& path : {dir / "installer.zip", dir / "kci_1.zip.missing", dir.path()}) {
        ServerProcess server({path.string()});
        ASSERT_EQ(server.readLine(), "") << path;
        EXPECT_EQ(server.wait(), 1) << path;
        EXPECT_NE(server.readStderr(), "") << path;
    }
    ServerProcess usage({});
    EXPECT_EQ(usage.wait(), 2);
}

} // namespace
