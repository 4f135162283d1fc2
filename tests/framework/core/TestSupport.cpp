#include "TestSupport.h"

#include "cppmicroservices/FrameworkEvent.h"

#include <archive.h>
#include <archive_entry.h>

#include <fstream>
#include <memory>
#include <stdexcept>

namespace fwtest {

void WriteFileWithZip(std::filesystem::path const& file, std::string const& prefix,
                      std::vector<std::pair<std::string, std::string>> const& entries) {
    std::string zip(1 << 20, '\0');
    std::size_t used = 0;
    std::unique_ptr<archive, int (*)(archive*)> writer(archive_write_new(), archive_write_free);
    archive_write_set_format_zip(writer.get());
    archive_write_set_options(writer.get(), "zip:compression=deflate");
    if (archive_write_open_memory(writer.get(), zip.data(), zip.size(), &used) != ARCHIVE_OK) {
        throw std::runtime_error("cannot open zip writer");
    }
    for (auto const& [name, content] : entries) {
        std::unique_ptr<archive_entry, void (*)(archive_entry*)> entry(archive_entry_new(),
                                                                       archive_entry_free);
        bool const isDir = !name.empty() && name.back() == '/';
        archive_entry_set_pathname(entry.get(), name.c_str());
        archive_entry_set_filetype(entry.get(), isDir ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(entry.get(), isDir ? 0755 : 0644);
        archive_entry_set_size(entry.get(), isDir ? 0 : static_cast<la_int64_t>(content.size()));
        archive_write_header(writer.get(), entry.get());
        if (!isDir) {
            archive_write_data(writer.get(), content.data(), content.size());
        }
    }
    archive_write_close(writer.get());
    std::ofstream out(file, std::ios::binary);
    out << prefix;
    out.write(zip.data(), static_cast<std::streamsize>(used));
}

RunningFramework::RunningFramework()
    : framework(cppmicroservices::FrameworkFactory().NewFramework({}, &log)) {
    framework.Start();
}

RunningFramework::~RunningFramework() {
    framework.Stop();
    framework.WaitForStop(std::chrono::milliseconds::zero());
}

} // namespace fwtest
