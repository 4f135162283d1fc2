#include "ArchiveExtraction.h"

#include "DirectoryTree.h"
#include "EntryName.h"

#include "halvexconnector/latestversion/kciextractor/KCIExtractionError.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>

#include <clocale>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace halvexconnector::latestversion::kciextractor::detail {
namespace {

constexpr std::size_t kReadBlockSize = std::size_t{1} << 20;
constexpr std::size_t kWriteBufferSize = std::size_t{4} << 20;

struct ArchiveCloser {
    void operator()(archive* a) const noexcept { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveCloser>;

class EntryRefusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string errorText(archive* a) {
    const char* text = archive_error_string(a);
    return text != nullptr ? text : "unknown error";
}

const char* describeType(mode_t type) {
    switch (type) {
    case AE_IFLNK:
        return "symbolic link";
    case AE_IFCHR:
        return "character device";
    case AE_IFBLK:
        return "block device";
    case AE_IFIFO:
        return "FIFO";
    case AE_IFSOCK:
        return "socket";
    default:
        return "entry of unknown type";
    }
}

const char* entryName(archive_entry* entry) {
    const char* utf8 = archive_entry_pathname_utf8(entry);
    return utf8 != nullptr ? utf8 : archive_entry_pathname(entry);
}

// The zip reader converts names into the character set of the calling thread's locale; in the
// "C" locale of a program that never called setlocale, names beyond ASCII get lost. File names
// are written as UTF-8 instead, by giving this thread a UTF-8 locale for the extraction only.
class ScopedUtf8Locale {
public:
    ScopedUtf8Locale() {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            locale_ = ::newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
            if (locale_ != static_cast<locale_t>(nullptr)) {
                previous_ = ::uselocale(locale_);
                return;
            }
        }
    }
    ~ScopedUtf8Locale() {
        if (locale_ != static_cast<locale_t>(nullptr)) {
            ::uselocale(previous_);
            ::freelocale(locale_);
        }
    }
    ScopedUtf8Locale(const ScopedUtf8Locale&) = delete;
    ScopedUtf8Locale& operator=(const ScopedUtf8Locale&) = delete;

private:
    locale_t locale_ = static_cast<locale_t>(nullptr);
    locale_t previous_ = static_cast<locale_t>(nullptr);
};

class Extraction {
public:
    Extraction(const std::filesystem::path& archivePath, int directoryFd,
               const ExtractionLimits& limits)
        : archivePath_(archivePath), tree_(directoryFd), limits_(limits) {}

    std::set<std::string> run() {
        const ScopedUtf8Locale utf8Names;
        open();
        archive_entry* entry = nullptr;
        for (;;) {
            const int status = archive_read_next_header(reader_.get(), &entry);
            if (status == ARCHIVE_EOF) {
                break;
            }
            const char* rawName = entry != nullptr ? entryName(entry) : nullptr;
            currentEntry_ = rawName != nullptr ? rawName : "";
            // A warning here only concerns the conversion of the name's character set; the
            // name is checked below like any other.
            if (status < ARCHIVE_WARN) {
                fail("unreadable entry header: " + errorText(reader_.get()));
            }
            if (rawName == nullptr) {
                fail("entry without a name");
            }
            try {
                extractEntry(entry);
            } catch (const EntryRefusal& refusal) {
                fail(refusal.what());
            } catch (const std::system_error& error) {
                fail(error.what());
            }
        }
        return std::move(files_);
    }

private:
    [[noreturn]] void fail(const std::string& reason) const {
        std::string message = "Refusing kci archive \"" + archivePath_.string() + "\"";
        if (!currentEntry_.empty()) {
            message += ", entry \"" + currentEntry_ + "\"";
        }
        throw KCIExtractionError(message + ": " + reason, currentEntry_);
    }

    void open() {
        reader_.reset(archive_read_new());
        if (!reader_) {
            throw std::bad_alloc();
        }
        // Only zip, read through its central directory, and no outer compression filters: the
        // smallest surface that reads kci archives. The streaming zip reader is left out on
        // purpose: it accepts an archive whose end is missing, as long as the local entries
        // before the cut are whole.
        if (archive_read_support_format_zip_seekable(reader_.get()) != ARCHIVE_OK ||
            archive_read_open_filename(reader_.get(), archivePath_.c_str(), kReadBlockSize) !=
                ARCHIVE_OK) {
            fail("cannot open: " + errorText(reader_.get()));
        }
    }

    void extractEntry(archive_entry* entry) {
        if (++entries_ > limits_.maxEntries) {
            throw EntryRefusal("more than " + std::to_string(limits_.maxEntries) + " entries");
        }
        std::vector<std::string> components;
        try {
            components = entryComponents(currentEntry_);
        } catch (const std::invalid_argument& reason) {
            throw EntryRefusal(std::string("unsafe name (") + reason.what() + ")");
        }
        if (components.size() > limits_.maxDepth) {
            throw EntryRefusal("nested deeper than " + std::to_string(limits_.maxDepth) +
                               " levels");
        }
        const mode_t type = archive_entry_filetype(entry);
        if (components.empty()) {
            // "./" from packers that archive a directory as ".": the extraction directory.
            if (type == AE_IFDIR && archive_entry_hardlink(entry) == nullptr) {
                return;
            }
            throw EntryRefusal("names the extraction directory itself");
        }
        std::string key = joinComponents(components);
        if (!names_.insert(key).second) {
            throw EntryRefusal("duplicate entry");
        }
        if (archive_entry_hardlink(entry) != nullptr) {
            throw EntryRefusal("hard link");
        }
        if (type == AE_IFDIR) {
            tree_.makeDirectory(components);
        } else if (type == AE_IFREG) {
            writeFile(entry, components);
            files_.insert(std::move(key));
        } else {
            throw EntryRefusal(describeType(type));
        }
    }

    void writeFile(archive_entry* entry, const std::vector<std::string>& components) {
        // The stated size is not trusted, but one that breaks the limit needs no decompression.
        if (archive_entry_size_is_set(entry) != 0 && archive_entry_size(entry) >= 0 &&
            static_cast<std::uint64_t>(archive_entry_size(entry)) >
                limits_.maxTotalBytes - totalBytes_) {
            throw EntryRefusal(totalLimitText());
        }
        // Owner-only: the extracted tree is run as the installing user, nobody else needs it.
        const mode_t mode = (archive_entry_perm(entry) & 0111) != 0 ? 0700 : 0600;
        if (buffer_.empty()) {
            buffer_.resize(kWriteBufferSize);
        }
        OutputFile output = tree_.createFile(components, mode, buffer_);
        copyData(output);
        output.finish();
    }

    void copyData(OutputFile& output) {
        const std::int64_t startOffset = archive_filter_bytes(reader_.get(), -1);
        std::uint64_t written = 0;
        for (;;) {
            const void* block = nullptr;
            std::size_t size = 0;
            la_int64_t offset = 0;
            const int status = archive_read_data_block(reader_.get(), &block, &size, &offset);
            if (status == ARCHIVE_EOF) {
                return;
            }
            // A checksum mismatch arrives as a warning: anything but OK is fatal here.
            if (status != ARCHIVE_OK) {
                throw EntryRefusal("corrupt data: " + errorText(reader_.get()));
            }
            if (offset < 0 || static_cast<std::uint64_t>(offset) != written) {
                throw EntryRefusal("data out of sequence");
            }
            if (size > limits_.maxTotalBytes - totalBytes_) {
                throw EntryRefusal(totalLimitText());
            }
            written += size;
            totalBytes_ += size;
            const std::int64_t consumed = archive_filter_bytes(reader_.get(), -1) - startOffset;
            checkCompressionRatio(written, consumed);
            output.write(block, size);
        }
    }

    // Counts bytes actually produced against compressed bytes actually read, so lying headers
    // cannot hide a bomb.
    void checkCompressionRatio(std::uint64_t written, std::int64_t consumed) const {
        if (written <= limits_.compressionRatioThreshold) {
            return;
        }
        const std::uint64_t compressed = consumed > 0 ? static_cast<std::uint64_t>(consumed) : 1;
        // written / compressed > ratio, without overflow and without rounding down.
        const std::uint64_t quotient = written / compressed;
        const bool above = quotient > limits_.maxCompressionRatio ||
                           (quotient == limits_.maxCompressionRatio && written % compressed != 0);
        if (above) {
            throw EntryRefusal(
                "compression ratio above " + std::to_string(limits_.maxCompressionRatio) + " (" +
                std::to_string(written) + " bytes from " + std::to_string(compressed) + ")");
        }
    }

    std::string totalLimitText() const {
        return "more than " + std::to_string(limits_.maxTotalBytes) +
               " bytes uncompressed in total";
    }

    const std::filesystem::path& archivePath_;
    DirectoryTree tree_;
    const ExtractionLimits& limits_;
    ArchivePtr reader_;
    std::string currentEntry_;
    std::uint64_t entries_ = 0;
    std::uint64_t totalBytes_ = 0;
    std::set<std::string> names_;
    std::set<std::string> files_;
    std::vector<char> buffer_;
};

} // namespace

std::set<std::string> extractArchive(const std::filesystem::path& archive, int directoryFd,
                                     const ExtractionLimits& limits) {
    return Extraction(archive, directoryFd, limits).run();
}

std::uint64_t statedUncompressedSize(const std::filesystem::path& archive) {
    ArchivePtr reader(archive_read_new());
    if (!reader || archive_read_support_format_zip_seekable(reader.get()) != ARCHIVE_OK ||
        archive_read_open_filename(reader.get(), archive.c_str(), kReadBlockSize) != ARCHIVE_OK) {
        return 0;
    }
    std::uint64_t total = 0;
    archive_entry* entry = nullptr;
    while (archive_read_next_header(reader.get(), &entry) >= ARCHIVE_WARN) {
        if (archive_entry_size_is_set(entry) != 0 && archive_entry_size(entry) > 0) {
            total += static_cast<std::uint64_t>(archive_entry_size(entry));
        }
    }
    return total;
}

} // namespace halvexconnector::latestversion::kciextractor::detail
