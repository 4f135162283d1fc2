// tripwire-sample-keygen: the build's signing key for the sample server.
//
//   tripwire-sample-keygen PUBLIC_KEY_FILE SECRET_KEY_FILE
//
// Makes a minisign key pair the first time; afterwards keeps the secret key and writes both files
// again from it, so a rebuild never changes the key the staged tree trusts. The secret key is
// owner-only, the public key and its folder writable by the owner alone (the module ignores a
// key folder that others may write), whatever the umask.
#include "MinisignKey.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <filesystem>
#include <iostream>

namespace {

namespace fs = std::filesystem;

void writeWithMode(const fs::path& file, const std::string& text, fs::perms mode) {
    fs::create_directories(file.parent_path());
    fs::permissions(file.parent_path(), fs::perms::owner_all | fs::perms::group_read |
                                            fs::perms::group_exec | fs::perms::others_read |
                                            fs::perms::others_exec);
    const fs::path partial = file.string() + ".partial";
    fs::remove(partial);
    // Created with its final mode: never readable by others, not even for a moment.
    const int fd =
        ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    const bool written = fd >= 0 && ::fchmod(fd, static_cast<mode_t>(mode)) == 0 &&
                         ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0)
        ::close(fd);
    if (!written)
        throw std::runtime_error("cannot write " + partial.string());
    fs::rename(partial, file);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: tripwire-sample-keygen PUBLIC_KEY_FILE SECRET_KEY_FILE\n";
        return 2;
    }
    try {
        const fs::path publicFile = argv[1], secretFile = argv[2];
        const auto key = fs::exists(secretFile) ? sample::server::readMinisignSecretKey(secretFile)
                                                : sample::server::makeMinisignKey();
        writeWithMode(secretFile, sample::server::minisignSecretKeyFile(key),
                      fs::perms::owner_read | fs::perms::owner_write);
        writeWithMode(publicFile, sample::server::minisignPublicKeyFile(key),
                      fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                          fs::perms::others_read);
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "tripwire-sample-keygen: " << error.what() << "\n";
        return 1;
    }
}
