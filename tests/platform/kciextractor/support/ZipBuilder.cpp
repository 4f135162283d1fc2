#include "ZipBuilder.h"

#include <archive.h>
#include <archive_entry.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

namespace kcitest {
namespace {

void check(archive* a, int status, const char* what) {
    if (status < ARCHIVE_WARN) {
        const char* text = archive_error_string(a);
        throw std::runtime_error(std::string(what) + ": " + (text != nullptr ? text : "?"));
    }
}

using EntryPtr = std::unique_ptr<archive_entry, decltype(&archive_entry_free)>;

EntryPtr newEntry(const std::string& name, mode_t type, mode_t perm, std::int64_t size) {
    EntryPtr entry(archive_entry_new(), &archive_entry_free);
    archive_entry_set_pathname_utf8(entry.get(), name.c_str());
    archive_entry_set_filetype(entry.get(), type);
    archive_entry_set_perm(entry.get(), perm);
    archive_entry_set_size(entry.get(), size);
    archive_entry_set_mtime(entry.get(), 1'700'000'000, 0);
    return entry;
}

std::uint16_t le16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

} // namespace

ZipBuilder::ZipBuilder(const std::filesystem::path& target, bool stored)
    : writer_(archive_write_new()) {
    check(writer_, archive_write_set_format_zip(writer_), "zip format");
    check(writer_,
          archive_write_set_format_option(writer_, "zip", "compression",
                                          stored ? "store" : "deflate"),
          "compression");
    // Names flagged as UTF-8, as most packers write them.
    check(writer_, archive_write_set_format_option(writer_, "zip", "hdrcharset", "UTF-8"),
          "hdrcharset");
    check(writer_, archive_write_open_filename(writer_, target.c_str()), "open");
}

ZipBuilder::~ZipBuilder() {
    try {
        close();
    } catch (...) {
    }
}

ZipBuilder& ZipBuilder::file(const std::string& name, std::string_view content, mode_t perm) {
    auto entry = newEntry(name, AE_IFREG, perm, static_cast<std::int64_t>(content.size()));
    check(writer_, archive_write_header(writer_, entry.get()), "header");
    if (!content.empty()) {
        check(writer_,
              static_cast<int>(archive_write_data(writer_, content.data(), content.size()) < 0
                                   ? ARCHIVE_FATAL
                                   : ARCHIVE_OK),
              "data");
    }
    return *this;
}

ZipBuilder& ZipBuilder::zeros(const std::string& name, std::uint64_t size) {
    auto entry = newEntry(name, AE_IFREG, 0644, static_cast<std::int64_t>(size));
    check(writer_, archive_write_header(writer_, entry.get()), "header");
    const std::vector<char> chunk(1 << 20, '\0');
    while (size > 0) {
        const std::size_t n = size < chunk.size() ? static_cast<std::size_t>(size) : chunk.size();
        if (archive_write_data(writer_, chunk.data(), n) < 0) {
            check(writer_, ARCHIVE_FATAL, "data");
        }
        size -= n;
    }
    return *this;
}

ZipBuilder& ZipBuilder::directory(const std::string& name) {
    auto entry = newEntry(name, AE_IFDIR, 0755, 0);
    check(writer_, archive_write_header(writer_, entry.get()), "header");
    return *this;
}

ZipBuilder& ZipBuilder::symlink(const std::string& name, const std::string& target) {
    auto entry = newEntry(name, AE_IFLNK, 0777, 0);
    archive_entry_set_symlink(entry.get(), target.c_str());
    check(writer_, archive_write_header(writer_, entry.get()), "header");
    return *this;
}

ZipBuilder& ZipBuilder::hardlink(const std::string& name, const std::string& target) {
    auto entry = newEntry(name, AE_IFREG, 0644, 0);
    archive_entry_set_hardlink(entry.get(), target.c_str());
    check(writer_, archive_write_header(writer_, entry.get()), "header");
    return *this;
}

ZipBuilder& ZipBuilder::manifest(const std::string& installer, const std::string& version) {
    return file("kci.json", manifestText(installer, version));
}

std::string ZipBuilder::manifestText(const std::string& installer, const std::string& version) {
    return "{\"version\": \"" + version + "\", \"installer\": \"" + installer + "\"}";
}

void ZipBuilder::close() {
    if (writer_ == nullptr) {
        return;
    }
    archive* writer = writer_;
    writer_ = nullptr;
    const int status = archive_write_close(writer);
    archive_write_free(writer);
    if (status != ARCHIVE_OK) {
        throw std::runtime_error("closing the test archive failed");
    }
}

std::string readBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

void setCentralDirectoryMode(const std::filesystem::path& archive, const std::string& name,
                             std::uint16_t mode) {
    std::string bytes = readBytes(archive);
    const std::string signature("PK\x01\x02", 4);
    for (std::size_t at = bytes.find(signature); at != std::string::npos;
         at = bytes.find(signature, at + 4)) {
        const std::size_t nameLength = le16(bytes, at + 28);
        if (bytes.compare(at + 46, nameLength, name) == 0 && nameLength == name.size()) {
            bytes[at + 5] = 3; // made by: Unix, so the mode counts
            bytes[at + 40] = static_cast<char>(mode & 0xff);
            bytes[at + 41] = static_cast<char>(mode >> 8);
            writeBytes(archive, bytes);
            return;
        }
    }
    throw std::runtime_error("no central directory record for " + name);
}

void flipDataByteOf(const std::filesystem::path& archive, const std::string& name,
                    std::size_t offset) {
    std::string bytes = readBytes(archive);
    const std::string signature("PK\x03\x04", 4);
    for (std::size_t at = bytes.find(signature); at != std::string::npos;
         at = bytes.find(signature, at + 4)) {
        const std::size_t nameLength = le16(bytes, at + 26);
        const std::size_t extraLength = le16(bytes, at + 28);
        if (nameLength == name.size() && bytes.compare(at + 30, nameLength, name) == 0) {
            char& target = bytes.at(at + 30 + nameLength + extraLength + offset);
            target = static_cast<char>(~target);
            writeBytes(archive, bytes);
            return;
        }
    }
    throw std::runtime_error("no local header for " + name);
}

} // namespace kcitest
