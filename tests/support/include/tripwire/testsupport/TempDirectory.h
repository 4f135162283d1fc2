#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>

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
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& path() const { return root; }
    std::filesystem::path operator/(const std::string& name) const { return root / name; }

private:
    std::filesystem::path root;
};

/// Sets an environment variable for the scope, restoring the previous value afterwards.
class ScopedVariable {
public:
    ScopedVariable(std::string name, const std::string& value) : name(std::move(name)) {
        if (const char* old = std::getenv(this->name.c_str()))
            previous = old, hadPrevious = true;
        ::setenv(this->name.c_str(), value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (hadPrevious)
            ::setenv(name.c_str(), previous.c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string name;
    std::string previous;
    bool hadPrevious = false;
};

} // namespace tripwire::testsupport
