// Appends a bundle manifest to a built shared library as a zip archive with two entries:
// "<symbolic name>/manifest.json" (deflate) and then the directory entry "<symbolic name>/".
//
//   tripwire-pack-manifest <library> <symbolic name> <manifest.json>
//
// The manifest must be a JSON object whose "bundle.symbolic_name" equals the given name, so a
// typo in either place fails the build instead of producing a bundle nobody can find.
#include <archive.h>
#include <archive_entry.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void checkManifest(const std::string& text, const std::string& symbolicName) {
    nlohmann::json manifest;
    try {
        manifest = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error(std::string("manifest is not valid JSON: ") + e.what());
    }
    if (!manifest.is_object()) {
        throw std::runtime_error("manifest is not a JSON object");
    }
    auto name = manifest.find("bundle.symbolic_name");
    if (name == manifest.end() || !name->is_string() || *name != symbolicName) {
        throw std::runtime_error("manifest's \"bundle.symbolic_name\" is not \"" + symbolicName +
                                 "\"");
    }
}

// A library that already ends in a zip directory was packed before; packing it again would hide
// the first archive behind the second and double the manifest.
bool endsWithZip(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    const std::streamoff size = in.tellg();
    constexpr std::streamoff eocdSize = 22;
    if (size < eocdSize) {
        return false;
    }
    std::array<char, 4> sig{};
    in.seekg(size - eocdSize);
    in.read(sig.data(), sig.size());
    return sig == std::array<char, 4>{'P', 'K', '\x05', '\x06'};
}

struct ArchiveDeleter {
    void operator()(archive* a) const { archive_write_free(a); }
};
struct EntryDeleter {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};

void check(archive* a, int rc) {
    if (rc != ARCHIVE_OK) {
        throw std::runtime_error(std::string("zip: ") + archive_error_string(a));
    }
}

void writeEntry(archive* a, const std::string& path, const std::string* content) {
    std::unique_ptr<archive_entry, EntryDeleter> entry(archive_entry_new());
    archive_entry_set_pathname(entry.get(), path.c_str());
    archive_entry_set_mtime(entry.get(), std::time(nullptr), 0);
    if (content) {
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        archive_entry_set_size(entry.get(), static_cast<la_int64_t>(content->size()));
    } else {
        archive_entry_set_filetype(entry.get(), AE_IFDIR);
        archive_entry_set_perm(entry.get(), 0755);
        archive_entry_set_size(entry.get(), 0);
    }
    check(a, archive_write_header(a, entry.get()));
    if (content && !content->empty()) {
        auto written = archive_write_data(a, content->data(), content->size());
        if (written < 0 || static_cast<size_t>(written) != content->size()) {
            throw std::runtime_error(std::string("zip: ") + archive_error_string(a));
        }
    }
}

std::string buildZip(const std::string& symbolicName, const std::string& manifest) {
    std::vector<char> buffer(manifest.size() + 64 * 1024);
    size_t used = 0;
    std::unique_ptr<archive, ArchiveDeleter> a(archive_write_new());
    check(a.get(), archive_write_set_format_zip(a.get()));
    check(a.get(), archive_write_set_options(a.get(), "zip:compression=deflate"));
    check(a.get(), archive_write_open_memory(a.get(), buffer.data(), buffer.size(), &used));
    writeEntry(a.get(), symbolicName + "/manifest.json", &manifest);
    writeEntry(a.get(), symbolicName + "/", nullptr);
    check(a.get(), archive_write_close(a.get()));
    return {buffer.data(), used};
}

void appendTo(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot append to " + path);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: " << argv[0] << " <library> <symbolic name> <manifest.json>\n";
        return 2;
    }
    const std::string library = argv[1];
    const std::string symbolicName = argv[2];
    try {
        if (symbolicName.empty() || symbolicName.find('/') != std::string::npos) {
            throw std::runtime_error("invalid symbolic name \"" + symbolicName + "\"");
        }
        const std::string manifest = readFile(argv[3]);
        checkManifest(manifest, symbolicName);
        if (endsWithZip(library)) {
            throw std::runtime_error(library + " already carries a zip archive");
        }
        appendTo(library, buildZip(symbolicName, manifest));
    } catch (const std::exception& e) {
        std::cerr << argv[0] << ": " << e.what() << '\n';
        return 1;
    }
    return 0;
}
