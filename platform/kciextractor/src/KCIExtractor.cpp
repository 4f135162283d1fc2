#include "halvexconnector/latestversion/kciextractor/KCIExtractor.h"

#include "ArchiveExtraction.h"
#include "DirectoryTree.h"
#include "EntryName.h"
#include "ExtractionDirectory.h"
#include "ExtractorLog.h"
#include "KciManifest.h"

#include <fl/filesystem/path_conversion.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace halvexconnector::latestversion::kciextractor {
namespace {

using detail::KciManifest;

constexpr mode_t kInstallerMode = 0700;

std::filesystem::path extractionDirectoryFor(const std::filesystem::path& archive) {
    std::filesystem::path directory = archive.parent_path();
    directory /= archive.stem().native() + ".extracted";
    return directory;
}

[[noreturn]] void throwManifestError(const std::filesystem::path& archive,
                                     const std::string& reason) {
    throw KCIExtractionError("Malformed kci.json in kci archive \"" + archive.string() +
                                 "\": " + reason,
                             detail::kManifestName);
}

std::string readManifestText(const std::filesystem::path& archive, int directoryFd) {
    detail::DirectoryTree tree(directoryFd);
    const fl::filesystem::unique_fd fd = tree.openFile({detail::kManifestName}, O_RDONLY);
    std::string text(detail::kMaxManifestSize + 1, '\0');
    std::size_t used = 0;
    while (used < text.size()) {
        const ssize_t n = ::read(fd.get(), text.data() + used, text.size() - used);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw std::system_error(errno, std::generic_category(), "cannot read kci.json");
        }
        if (n == 0) {
            break;
        }
        used += static_cast<std::size_t>(n);
    }
    if (used > detail::kMaxManifestSize) {
        throwManifestError(archive,
                           "larger than " + std::to_string(detail::kMaxManifestSize) + " bytes");
    }
    text.resize(used);
    return text;
}

// The manifest, or nothing (with the reason logged) when the archive has none.
std::optional<KciManifest> readManifest(const std::filesystem::path& archive, int directoryFd,
                                        const std::set<std::string>& files) {
    if (files.count(detail::kManifestName) == 0) {
        detail::logExtractorRecord("kci archive \"" + archive.string() +
                                   "\" holds no kci.json at its root; no installer.");
        return std::nullopt;
    }
    try {
        return detail::parseKciManifest(readManifestText(archive, directoryFd));
    } catch (const std::invalid_argument& reason) {
        throwManifestError(archive, reason.what());
    }
}

void makeExecutable(int directoryFd, const std::vector<std::string>& installer) {
    const detail::DirectoryTree tree(directoryFd);
    const fl::filesystem::unique_fd fd = tree.openFile(installer, O_RDONLY);
    if (::fchmod(fd.get(), kInstallerMode) != 0) {
        throw std::system_error(errno, std::generic_category(),
                                "cannot make the installer executable");
    }
}

// Refuses, before anything is written, an archive whose stated contents exceed the free space
// where they would go: a full disk found halfway leaves a half-written tree to clean up.
void requireSpaceFor(const std::filesystem::path& archive, const std::filesystem::path& target,
                     std::uint64_t keepFree) {
    const std::uint64_t contents = detail::statedUncompressedSize(archive);
    const std::uint64_t needed = contents + keepFree;
    struct statvfs info {};
    if (contents == 0 || ::statvfs(target.c_str(), &info) != 0) {
        return;
    }
    const std::uint64_t available = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    if (needed > available) {
        throw KCIExtractionError(
            "not enough free space in " + target.string() + ": kci archive \"" + archive.string() +
                "\" unpacks to " + std::to_string(contents) + " bytes, " + std::to_string(needed) +
                " with the space kept free, " + std::to_string(available) + " are free",
            "");
    }
}

} // namespace

std::pair<fl::filesystem::basic_path, std::string>
extractKCIAndReturnVersion(const fl::filesystem::basic_path& archive,
                           const ExtractionLimits& limits) {
    const std::filesystem::path archivePath =
        std::filesystem::absolute(fl::filesystem::to_native(archive));
    requireSpaceFor(archivePath, archivePath.parent_path(), limits.keepFreeBytes);
    detail::ExtractionDirectory directory(extractionDirectoryFor(archivePath));
    const std::set<std::string> files = detail::extractArchive(archivePath, directory.fd(), limits);

    const std::optional<KciManifest> manifest = readManifest(archivePath, directory.fd(), files);
    if (!manifest) {
        return {};
    }
    const std::string installer = detail::joinComponents(manifest->installer);
    if (files.count(installer) == 0) {
        detail::logExtractorRecord("kci archive \"" + archivePath.string() +
                                   "\": kci.json names the installer \"" + installer +
                                   "\", which is not a file of the archive; no installer.");
        return {};
    }
    makeExecutable(directory.fd(), manifest->installer);
    directory.keep();
    return {fl::filesystem::path_from_native(directory.path() / installer, archive.form()),
            manifest->version};
}

std::pair<fl::filesystem::basic_path, std::string>
extractKCIAndReturnVersion(const fl::filesystem::basic_path& archive) {
    return extractKCIAndReturnVersion(archive, ExtractionLimits{});
}

fl::filesystem::basic_path extractKCI(const fl::filesystem::basic_path& archive,
                                      const ExtractionLimits& limits) {
    return extractKCIAndReturnVersion(archive, limits).first;
}

fl::filesystem::basic_path extractKCI(const fl::filesystem::basic_path& archive) {
    return extractKCI(archive, ExtractionLimits{});
}

} // namespace halvexconnector::latestversion::kciextractor
