#include "download/WorkingDirectory.h"

#include "Logging.h"
#include "PrivatePath.h"
#include "download/DownloadLocation.h"

#include <fl/filesystem/detail/native_form.h>
#include <fl/filesystem/directory_iterator.h>
#include <fl/filesystem/operations.h>
#include <fl/filesystem/path_conversion.h>

#include <sys/stat.h>

#include <utility>

namespace halvexconnector::tripwireimpl {

namespace fs = fl::filesystem;

namespace {

bool isPlainName(const fl::ustring& name) {
    return !name.empty() && name != u"." && name != u".." &&
           name.find_first_of(fl::ustring(u"/\\\0", 3)) == fl::ustring::npos;
}

// The names directly inside `directory`, or nothing when it cannot be listed.
std::optional<std::set<fl::ustring>> entryNames(const fs::basic_path& directory) {
    std::set<fl::ustring> names;
    try {
        // An open listing always holds "." and "..": a listing that does not open is a
        // directory that cannot be read (or one that is gone), never an empty one.
        fs::detail::upath_directory_iterator_impl it(directory.string(), directory.form());
        if (!it.is_open()) {
            return std::nullopt;
        }
        for (; it.is_open(); it.increment()) {
            const fl::ustring& name = it->filename();
            if (name != u"." && name != u"..") {
                names.insert(name);
            }
        }
    } catch (...) {
        return std::nullopt;
    }
    return names;
}

bool existsOrAssumed(const fs::basic_path& path) {
    try {
        return fs::exists(path);
    } catch (...) {
        // Cannot tell: treat it as the user's, so that nothing of theirs is ever taken.
        return true;
    }
}

std::string nativeText(const fs::basic_path& path) {
    return fs::to_native(path).string();
}

// A directory (links followed) that the running user does not hold alone. Anything else, and
// what cannot be inspected, is left to the checks at creation.
bool othersControl(const fs::basic_path& path) {
    struct stat st {};
    return ::stat(nativeText(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           !isPrivateDirectory(nativeText(path));
}

} // namespace

WorkingDirectory WorkingDirectory::claim(const fl::ustring& ownEntry) {
    DownloadLocation chosen = chooseDownloadLocation();
    WorkingDirectory directory(std::move(chosen.path), isPlainName(ownEntry) ? ownEntry : u"");
    directory.generated = !chosen.userChosen;
    if (chosen.userChosen && othersControl(directory.location)) {
        writeLogRecord(severityLocalSourceNotice, "Download location \"",
                       nativeText(directory.location),
                       "\" can be changed by other users; a private directory is used instead.");
        directory.location = makeUniqueTempDirectoryPath();
        directory.generated = true;
    } else if (chosen.userChosen && existsOrAssumed(directory.location)) {
        // From here on by its canonical name: a link on the way that another user owns must not
        // re-point the attempt's entries later.
        if (isPrivateDirectory(nativeText(directory.location))) {
            if (auto canonical = trustedCanonicalPath(nativeText(directory.location))) {
                directory.location = fs::path_from_native(*canonical, directory.location.form());
            }
        }
        directory.noteUserEntries();
    }
    return directory;
}

void WorkingDirectory::create() const {
    const std::string native = nativeText(location);
    if (!generated) {
        makePrivateDirectories(native);
        return;
    }
    makePrivateDirectories(fs::to_native(location).parent_path().string());
    makeNewPrivateDirectory(native);
}

void WorkingDirectory::noteUserEntries() {
    std::optional<std::set<fl::ustring>> names = entryNames(location);
    if (!names) {
        share = Share::OWN_ENTRY_ONLY;
        return;
    }
    share = Share::NEW_ENTRIES;
    entriesBefore = std::move(*names);
    entriesBefore.erase(ownEntry);
}

fs::basic_path WorkingDirectory::child(const fl::ustring& name) const {
    fl::ustring text = location.string();
    fs::detail::concatenate_pathname(text, name, location.form());
    return fs::basic_path(text, location.form());
}

std::vector<fs::basic_path> WorkingDirectory::removalTargets() const {
    if (share == Share::WHOLE) {
        return {location};
    }
    std::vector<fs::basic_path> targets;
    std::optional<std::set<fl::ustring>> now;
    if (share == Share::NEW_ENTRIES) {
        now = entryNames(location);
    }
    if (!now) {
        if (!ownEntry.empty()) {
            targets.push_back(child(ownEntry));
        }
        return targets;
    }
    for (const fl::ustring& name : *now) {
        if (entriesBefore.count(name) == 0) {
            targets.push_back(child(name));
        }
    }
    return targets;
}

std::function<void()> workingDirectoryCleanup(WorkingDirectory directory,
                                              RemoveOrQueueForShutdown removeOrQueue) {
    return [directory = std::move(directory), removeOrQueue = std::move(removeOrQueue)] {
        for (const fs::basic_path& target : directory.removalTargets()) {
            removeOrQueue(target);
        }
    };
}

} // namespace halvexconnector::tripwireimpl
