#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace tripwire::testsupport {

/// One regular file of a zip archive: its '/'-separated name inside the archive and its bytes.
/// An executable entry is packed with mode 0755 (the kci extractor keeps it executable), any
/// other with 0644.
struct ArchiveEntry {
    std::string name;
    std::string content;
    bool executable = false;
};

/// Writes a zip archive (deflate) of `entries`, in order, to `archive`, replacing it; written
/// under a temporary name first, so a reader never sees half an archive.
void writeZipArchive(const std::filesystem::path& archive,
                     const std::vector<ArchiveEntry>& entries);

/// Writes a kci archive: "kci.json" {"version", "installer"} first, then `entries`, which should
/// hold the file `installer` names.
void writeKciArchive(const std::filesystem::path& archive, const std::string& version,
                     const std::string& installer, const std::vector<ArchiveEntry>& entries);

/// A kci archive whose installer "bin/setup" is a shell script: "#!/bin/sh", then `body`; with
/// `payloadBytes` random (incompressible) bytes in "bin/payload" when not zero.
void writeScriptKciArchive(const std::filesystem::path& archive, const std::string& version,
                           const std::string& body, std::size_t payloadBytes = 0);

} // namespace tripwire::testsupport
