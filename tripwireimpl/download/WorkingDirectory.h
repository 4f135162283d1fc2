#pragma once

#include <fl/filesystem/basic_path.h>

#include <functional>
#include <optional>
#include <set>
#include <vector>

namespace halvexconnector::tripwireimpl {

// Removes a directory now, or queues it for removal at shutdown when that fails.
using RemoveOrQueueForShutdown = std::function<void(const fl::filesystem::basic_path&)>;

// The working directory of one install attempt, and what the attempt's clean-up may take away.
//
// A generated directory belongs to the attempt and goes as a whole. The directory that
// QB_RODUDED_OZOVIZAZ_DOWNLOAD_LOCATION names belongs to the user, who may keep files of their
// own there: when it already existed, the clean-up removes only the entries that appeared after
// the attempt claimed it, plus the attempt's own entry (the archive's stem or "v<version>"),
// which the attempt replaces anyway. A user directory the attempt created goes as a whole.
class WorkingDirectory {
public:
    // Chooses the location as getDownloadLocation() does and notes what is already in it.
    // `ownEntry` is the name of the entry the attempt works in; a name with a separator is never
    // treated as the attempt's. A chosen directory that another user owns or may write (or one
    // on a path that others control) is never used: the attempt takes a generated directory.
    static WorkingDirectory claim(const fl::ustring& ownEntry);

    const fl::filesystem::basic_path& path() const noexcept { return location; }

    // Makes the location when it is missing: a generated one always new, each directory made
    // here owner-only whatever the umask. Throws std::runtime_error when the location, or the
    // storage root holding a generated one, is not private to the running user.
    void create() const;

    // What the clean-up hands to the removal, in no particular order. When a user directory
    // cannot be listed, only the attempt's own entry.
    std::vector<fl::filesystem::basic_path> removalTargets() const;

private:
    WorkingDirectory(fl::filesystem::basic_path location, const fl::ustring& ownEntry)
        : location(std::move(location)), ownEntry(ownEntry) {}

    void noteUserEntries();

    fl::filesystem::basic_path child(const fl::ustring& name) const;

    // How much of the location the attempt owns.
    enum class Share {
        WHOLE,          // generated, or a user directory the attempt created
        NEW_ENTRIES,    // a user directory: what was not in entriesBefore, and ownEntry
        OWN_ENTRY_ONLY, // a user directory that could not be listed: ownEntry alone
    };

    fl::filesystem::basic_path location;
    bool generated = false;
    Share share = Share::WHOLE;
    std::set<fl::ustring> entriesBefore;
    fl::ustring ownEntry;
};

// The clean-up action of an attempt: hands each removal target to `removeOrQueue`.
std::function<void()> workingDirectoryCleanup(WorkingDirectory directory,
                                              RemoveOrQueueForShutdown removeOrQueue);

} // namespace halvexconnector::tripwireimpl
