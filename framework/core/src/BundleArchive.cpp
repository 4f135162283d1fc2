#include "BundleArchive.h"

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

namespace cppmicroservices {

namespace {

constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::size_t kMaxManifestSize = 16 * 1024 * 1024;

std::uint32_t ReadLe32(unsigned char const* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t ReadLe16(unsigned char const* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::string Quoted(std::string const& path) {
    return "'" + path + "'";
}

std::vector<unsigned char> ReadRange(std::ifstream& in, std::string const& path,
                                     std::uint64_t offset, std::uint64_t size) {
    std::vector<unsigned char> data(size);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size));
    if (!in) {
        throw std::runtime_error("Cannot read bundle file " + Quoted(path));
    }
    return data;
}

/// The bytes of the zip archive at the end of the file: from its first local
/// header (located through the end-of-central-directory record) to the end.
std::vector<unsigned char> ReadAppendedZip(std::string const& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("Cannot read bundle file " + Quoted(path) + ": " +
                                 std::strerror(errno));
    }
    in.seekg(0, std::ios::end);
    auto const fileSize = static_cast<std::uint64_t>(in.tellg());
    if (!in || fileSize < kEndRecordSize) {
        throw std::invalid_argument("Bundle file " + Quoted(path) + " has no zip archive appended");
    }
    std::uint64_t const tailSize =
        std::min<std::uint64_t>(fileSize, kEndRecordSize + kMaxCommentSize);
    std::vector<unsigned char> const tail = ReadRange(in, path, fileSize - tailSize, tailSize);

    // The record sits at the very end, followed only by its comment.
    for (std::size_t pos = tail.size() - kEndRecordSize + 1; pos-- > 0;) {
        unsigned char const* rec = tail.data() + pos;
        if (ReadLe32(rec) != 0x06054b50 ||
            pos + kEndRecordSize + ReadLe16(rec + 20) != tail.size()) {
            continue;
        }
        std::uint64_t const recordOffset = fileSize - tailSize + pos;
        std::uint64_t const directorySize = ReadLe32(rec + 12);
        std::uint64_t const directoryOffset = ReadLe32(rec + 16);
        if (directorySize + directoryOffset > recordOffset) {
            break;
        }
        // Offsets inside the archive count from its own start, which lies after the
        // library's bytes.
        std::uint64_t const zipStart = recordOffset - directorySize - directoryOffset;
        return ReadRange(in, path, zipStart, fileSize - zipStart);
    }
    throw std::invalid_argument("Bundle file " + Quoted(path) + " has no zip archive appended");
}

bool IsManifestEntry(std::string const& name, std::string& folder) {
    static std::string const suffix = "/manifest.json";
    if (name.size() <= suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    folder = name.substr(0, name.size() - suffix.size());
    return folder.find('/') == std::string::npos;
}

std::string ErrorText(archive* a) {
    char const* text = archive_error_string(a);
    return text ? text : "unknown error";
}

struct ArchiveCloser {
    void operator()(archive* a) const { archive_read_free(a); }
};

} // namespace

nlohmann::json ReadBundleManifest(std::string const& path) {
    std::vector<unsigned char> const zip = ReadAppendedZip(path);

    std::unique_ptr<archive, ArchiveCloser> reader(archive_read_new());
    archive_read_support_format_zip_seekable(reader.get());
    if (archive_read_open_memory(reader.get(), zip.data(), zip.size()) != ARCHIVE_OK) {
        throw std::invalid_argument("Bundle file " + Quoted(path) +
                                    " has an unreadable zip archive: " + ErrorText(reader.get()));
    }

    archive_entry* entry = nullptr;
    int rc = ARCHIVE_OK;
    while ((rc = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        char const* rawName = archive_entry_pathname(entry);
        std::string folder;
        if (rawName == nullptr || !IsManifestEntry(rawName, folder)) {
            continue;
        }
        std::string const entryName = rawName;
        if (archive_entry_size(entry) > static_cast<la_int64_t>(kMaxManifestSize)) {
            throw std::invalid_argument("Bundle file " + Quoted(path) + ": manifest " + entryName +
                                        " is too large");
        }
        std::string text;
        char buffer[8192];
        la_ssize_t n = 0;
        while ((n = archive_read_data(reader.get(), buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
            if (text.size() > kMaxManifestSize) {
                throw std::invalid_argument("Bundle file " + Quoted(path) + ": manifest " +
                                            entryName + " is too large");
            }
        }
        if (n < 0) {
            throw std::invalid_argument("Bundle file " + Quoted(path) + ": cannot read " +
                                        entryName + ": " + ErrorText(reader.get()));
        }

        nlohmann::json manifest;
        try {
            manifest = nlohmann::json::parse(text);
        } catch (nlohmann::json::exception const& e) {
            throw std::invalid_argument("Bundle file " + Quoted(path) + ": malformed manifest " +
                                        entryName + ": " + e.what());
        }
        auto const name =
            manifest.is_object() ? manifest.find("bundle.symbolic_name") : manifest.end();
        if (!manifest.is_object() || name == manifest.end() || !name->is_string() ||
            name->get<std::string>().empty()) {
            throw std::invalid_argument("Bundle file " + Quoted(path) + ": manifest " + entryName +
                                        " has no \"bundle.symbolic_name\"");
        }
        if (name->get<std::string>() != folder) {
            throw std::invalid_argument("Bundle file " + Quoted(path) + ": manifest " + entryName +
                                        " names the bundle \"" + name->get<std::string>() +
                                        "\", not \"" + folder + "\"");
        }
        return manifest;
    }
    if (rc != ARCHIVE_EOF) {
        throw std::invalid_argument("Bundle file " + Quoted(path) +
                                    " has an unreadable zip archive: " + ErrorText(reader.get()));
    }
    throw std::invalid_argument("Bundle file " + Quoted(path) +
                                " has no <name>/manifest.json entry");
}

} // namespace cppmicroservices
