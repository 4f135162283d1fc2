#include "BenchSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

extern char** environ;

namespace tripwire::bench {

namespace fs = std::filesystem;

TempDirectory::TempDirectory(const std::string& prefix, const fs::path& base) {
    std::string pattern = (base / (prefix + ".XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary directory for " + prefix);
    path_ = pattern;
}

TempDirectory::~TempDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void writeRandomFile(const fs::path& path, std::uint64_t bytes, std::uint64_t seed) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 generator(seed);
    std::vector<std::uint64_t> block(1 << 17);
    for (std::uint64_t written = 0; written < bytes; written += block.size() * 8) {
        std::generate(block.begin(), block.end(), generator);
        const auto chunk = std::min<std::uint64_t>(block.size() * 8, bytes - written);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(chunk));
    }
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

namespace {

void writeFileContent(const fs::path& path, std::uint64_t bytes, std::uint64_t seed) {
    std::mt19937_64 generator(seed);
    std::vector<std::uint64_t> block((bytes + 7) / 8);
    std::generate(block.begin(), block.end(), generator);
    if (seed % 4 == 0) {
        for (auto& word : block)
            word &= 0x3f3f3f3f3f3f3f3fULL;
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(bytes));
}

} // namespace

fs::path makeKciArchive(const fs::path& archive, std::uint64_t bytes, unsigned files) {
    const fs::path source = archive.parent_path() / (archive.stem().string() + ".source");
    fs::create_directories(source / "bin");
    std::ofstream(source / "kci.json") << R"({"version": "1.0.0.0", "installer": "bin/setup"})";
    std::ofstream(source / "bin" / "setup") << "#!/bin/sh\nexit 0\n";
    fs::permissions(source / "bin" / "setup", fs::perms::owner_all | fs::perms::group_read |
                                                  fs::perms::group_exec | fs::perms::others_read |
                                                  fs::perms::others_exec);
    const std::uint64_t average = bytes / files;
    std::uint64_t remaining = bytes;
    for (unsigned i = 0; i < files; ++i) {
        const fs::path folder = source / ("part" + std::to_string(i % 20));
        fs::create_directories(folder);
        // Sizes from half to one and a half times the average; the last file takes the rest.
        std::uint64_t size = average / 2 + (average * ((i * 7919) % 1000)) / 1000;
        size = i + 1 == files ? remaining : std::min(size, remaining);
        remaining -= size;
        writeFileContent(folder / ("file" + std::to_string(i) + ".bin"), size, i);
    }
    const bool packed = runShell("cd " + shellQuoted(source.string()) + " && zip -q -r -1 " +
                                 shellQuoted(fs::absolute(archive).string()) + " .");
    fs::remove_all(source);
    if (!packed)
        throw std::runtime_error("zip failed");
    return archive;
}

double cpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    const auto toSeconds = [](const timeval& t) {
        return t.tv_sec + t.tv_usec / 1e6;
    };
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

std::uint64_t statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(field) + ":";
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::strtoull(line.c_str() + prefix.size(), nullptr, 10);
    }
    return 0;
}

std::string runThisProgram(const std::vector<std::string>& arguments) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    std::vector<std::string> texts{self};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot create a pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    pid_t child = 0;
    const int error = ::posix_spawn(&child, self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    std::string output;
    if (error == 0) {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0)
            output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeEnds[0]);
    if (error != 0)
        throw std::runtime_error("cannot start " + self);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(self + " " + arguments.front() + " failed");
    return output;
}

bool runShell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

} // namespace tripwire::bench
