#pragma once

#include <optional>
#include <string>

namespace halvexconnector::tripwireimpl {

// What an install attempt writes and later runs must stay out of other local users' reach: a
// name that another user can re-point (by renaming or replacing a directory on its way) would
// let them swap what runs. Paths here are native (UTF-8 bytes on Linux).

// Nothing on the canonical form of `path` can be changed by a user other than root and the
// running one: every component is owned by one of them, and every directory that others may
// write is sticky (so they cannot rename or remove what is not theirs). Returns the canonical
// path; nothing when `path` does not exist. Throws std::runtime_error naming the component that
// others control.
std::optional<std::string> trustedCanonicalPath(const std::string& path);

// True when `path` is a directory of the running user that no other user may write, on a
// trusted path (see above). Never throws.
bool isPrivateDirectory(const std::string& path);

// Makes the directory and its missing parents, each one made here with mode 0700 whatever the
// umask. An existing final directory must be private (isPrivateDirectory). Throws
// std::runtime_error saying what is wrong.
void makePrivateDirectories(const std::string& path);

// Makes a new directory with mode 0700 whatever the umask; throws std::runtime_error when the
// name is taken or the directory cannot be made.
void makeNewPrivateDirectory(const std::string& path);

} // namespace halvexconnector::tripwireimpl
