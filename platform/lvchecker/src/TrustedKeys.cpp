#include "BuiltInTrustedKeys.h"
#include "CheckerLog.h"

#include <fl/filesystem/unique_fd.h>
#include <halvexconnector/latestversion/checker/DocumentSignature.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace halvexconnector::latestversion::checker {

namespace {

namespace fs = std::filesystem;

// A trust anchor counts only when nobody but this user or root could have placed it.
std::string distrustOf(const struct stat& info) {
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        return "owned by another user (uid " + std::to_string(info.st_uid) + ")";
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return "writable by other users";
    return {};
}

// The text of one key file below the open folder; throws DocumentSignatureError why not.
std::string readKeyFile(int folder, const std::string& name, const std::string& origin) {
    const fl::filesystem::unique_fd file(
        ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0)
        throw DocumentSignatureError(origin + " cannot be read: " + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        throw DocumentSignatureError(origin + " is not a regular file");
    if (const std::string distrust = distrustOf(info); !distrust.empty())
        throw DocumentSignatureError(origin + " is " + distrust);
    std::string text(MAX_KEY_FILE_BYTES + 1, '\0');
    std::size_t filled = 0;
    while (filled < text.size()) {
        const ssize_t got = ::read(file.get(), text.data() + filled, text.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw DocumentSignatureError(origin + " cannot be read: " + std::strerror(errno));
        if (got == 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    text.resize(filled);
    return text;
}

void addKey(std::vector<TrustedKey>& keys, std::string_view text, const std::string& origin) {
    try {
        keys.push_back(parsePublicKey(text, origin));
    } catch (const DocumentSignatureError& error) {
        writeCheckerLog(severityWarning, "Ignoring a trusted key: ", error.what());
    }
}

} // namespace

std::vector<TrustedKey> loadTrustedKeys(const fs::path& installRoot) {
    std::vector<TrustedKey> keys;
    for (const std::string_view text : builtInTrustedKeys())
        addKey(keys, text, "the key built in");

    const fs::path folder = installRoot / TRUSTED_KEYS_DIRECTORY;
    const fl::filesystem::unique_fd directory(
        ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (directory.get() < 0 || ::fstat(directory.get(), &info) != 0) {
        if (errno != ENOENT)
            writeCheckerLog(severityWarning, "Ignoring the trusted keys in ", folder.string(), ": ",
                            std::strerror(errno));
        return keys;
    }
    if (const std::string distrust = distrustOf(info); !distrust.empty()) {
        writeCheckerLog(severityWarning, "Ignoring the trusted keys in ", folder.string(),
                        ": the folder is ", distrust);
        return keys;
    }
    std::vector<std::string> names;
    if (DIR* listing = ::fdopendir(::dup(directory.get()))) {
        while (const dirent* entry = ::readdir(listing)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.ends_with(".pub"))
                names.push_back(name);
        }
        ::closedir(listing);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string origin = (folder / name).string();
        try {
            addKey(keys, readKeyFile(directory.get(), name, origin), origin);
        } catch (const DocumentSignatureError& error) {
            writeCheckerLog(severityWarning, "Ignoring a trusted key: ", error.what());
        }
    }
    return keys;
}

} // namespace halvexconnector::latestversion::checker
