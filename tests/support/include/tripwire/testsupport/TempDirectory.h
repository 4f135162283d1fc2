#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tripwire::testsupport {

/// A private temporary directory, removed with everything in it at scope exit.
class TempDirectory {
public:
    TempDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qbhttp-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        root = pattern;
    }
    ~TempDirectory() {
        // A test may have locked its tree down; the owner's bits come back, top down, before
        // removal (never through a link).
        namespace fs = std::filesystem;
        std::error_code ec;
        const auto open = [&ec](const fs::path& p) {
            fs::permissions(p, fs::perms::owner_all, fs::perm_options::add, ec);
        };
        open(root);
        for (auto it = fs::recursive_directory_iterator(root, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec))
                open(it->path());
        }
        fs::remove_all(root, ec);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& path() const { return root; }
    std::filesystem::path operator/(const std::string& name) const { return root / name; }

private:
    std::filesystem::path root;
};

/// The whole content of a file; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

/// The lines of a file, without their line feeds.
inline std::vector<std::string> linesOf(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

/// Writes `content` to `file`, replacing it and creating missing parent directories.
inline void writeFile(const std::filesystem::path& file, const std::string& content = "x") {
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
}

/// The permission bits (set-id and sticky included) of `path` itself, never of a link's target;
/// 077777, which no expectation names, when it does not exist.
inline unsigned modeOf(const std::filesystem::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 077777;
}

/// Writes an executable "#!/bin/sh" script with `body`.
inline std::filesystem::path writeScript(const std::filesystem::path& file,
                                         const std::string& body) {
    writeFile(file, "#!/bin/sh\n" + body + "\n");
    std::filesystem::permissions(file, std::filesystem::perms::owner_all);
    return file;
}

/// Sets (or, with nullopt, unsets) an environment variable for the scope, restoring the previous
/// state afterwards.
class ScopedVariable {
public:
    ScopedVariable(std::string name, const std::optional<std::string>& value)
        : name(std::move(name)) {
        if (const char* old = std::getenv(this->name.c_str()))
            previous = old;
        apply(value);
    }
    ~ScopedVariable() { apply(previous); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void apply(const std::optional<std::string>& value) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }

    std::string name;
    std::optional<std::string> previous;
};

} // namespace tripwire::testsupport
