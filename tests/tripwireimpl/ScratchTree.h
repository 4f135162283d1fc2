#pragma once

#include <fl/filesystem/basic_path.h>

#include <filesystem>
#include <functional>
#include <string>

namespace tripwire_test {

// A fresh directory for one test, removed (immutable flags cleared first) when it goes away.
class ScratchTree {
public:
    ScratchTree();
    ~ScratchTree();
    ScratchTree(const ScratchTree&) = delete;
    ScratchTree& operator=(const ScratchTree&) = delete;

    const std::filesystem::path& root() const { return rootDir; }
    // Creates the directories and a file "<dir>/<name>" holding a few bytes.
    std::filesystem::path file(const std::filesystem::path& relative) const;

private:
    std::filesystem::path rootDir;
};

fl::filesystem::basic_path toPath(const std::filesystem::path& path);

// Makes one file impossible to remove, even for the super-user, until released. Returns false
// when the file system refuses (the caller should skip).
bool pinFile(const std::filesystem::path& file);
void releaseFile(const std::filesystem::path& file);

// Runs check() in a forked child without the super-user's privileges (as "nobody" when the
// test runs as root), so that permission bits really stop it. The child's result; 77 when
// privileges could not be dropped or the scratch tree is not reachable for that user.
int runUnprivileged(const std::filesystem::path& scratchRoot, const std::function<int()>& check);
constexpr int unprivilegedSkipped = 77;

// Permission bits of an entry, not following symbolic links.
unsigned modeOf(const std::filesystem::path& entry);

} // namespace tripwire_test
