#include <tripwire/testsupport/KciArchive.h>

#include <archive.h>
#include <archive_entry.h>
#include <nlohmann/json.hpp>

#include <random>

#include <memory>
#include <stdexcept>

namespace tripwire::testsupport {

namespace {

using Writer = std::unique_ptr<archive, decltype(&archive_write_free)>;
using Entry = std::unique_ptr<archive_entry, decltype(&archive_entry_free)>;

void check(archive* writer, int status, const std::string& what) {
    if (status != ARCHIVE_OK) {
        const char* reason = archive_error_string(writer);
        throw std::runtime_error(what + ": " + (reason != nullptr ? reason : "unknown error"));
    }
}

void writeEntry(archive* writer, const ArchiveEntry& file) {
    Entry entry(archive_entry_new(), &archive_entry_free);
    archive_entry_set_pathname(entry.get(), file.name.c_str());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), file.executable ? 0755 : 0644);
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(file.content.size()));
    check(writer, archive_write_header(writer, entry.get()), "zip entry " + file.name);
    if (!file.content.empty() &&
        archive_write_data(writer, file.content.data(), file.content.size()) !=
            static_cast<la_ssize_t>(file.content.size())) {
        check(writer, ARCHIVE_FATAL, "zip data of " + file.name);
    }
}

} // namespace

void writeZipArchive(const std::filesystem::path& archivePath,
                     const std::vector<ArchiveEntry>& entries) {
    const std::filesystem::path partial = archivePath.string() + ".partial";
    {
        Writer writer(archive_write_new(), &archive_write_free);
        check(writer.get(), archive_write_set_format_zip(writer.get()), "zip format");
        check(writer.get(), archive_write_open_filename(writer.get(), partial.c_str()),
              "open " + partial.string());
        for (const ArchiveEntry& entry : entries)
            writeEntry(writer.get(), entry);
        check(writer.get(), archive_write_close(writer.get()), "close " + partial.string());
    }
    std::filesystem::rename(partial, archivePath);
}

void writeKciArchive(const std::filesystem::path& archivePath, const std::string& version,
                     const std::string& installer, const std::vector<ArchiveEntry>& entries) {
    std::vector<ArchiveEntry> all;
    all.push_back(
        {"kci.json", nlohmann::json{{"version", version}, {"installer", installer}}.dump(), false});
    all.insert(all.end(), entries.begin(), entries.end());
    writeZipArchive(archivePath, all);
}

void writeScriptKciArchive(const std::filesystem::path& archivePath, const std::string& version,
                           const std::string& body, std::size_t payloadBytes) {
    std::vector<ArchiveEntry> entries{{"bin/setup", "#!/bin/sh\n" + body + "\n", true}};
    if (payloadBytes > 0) {
        std::mt19937_64 random(payloadBytes);
        std::string payload(payloadBytes, '\0');
        for (char& byte : payload)
            byte = static_cast<char>(random());
        entries.push_back({"bin/payload", std::move(payload), false});
    }
    writeKciArchive(archivePath, version, "bin/setup", entries);
}

} // namespace tripwire::testsupport
