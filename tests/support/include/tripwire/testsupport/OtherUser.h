#pragma once

#include <functional>
#include <string>

#include <sys/types.h>

namespace tripwire::testsupport {

/// The unprivileged account ("nobody") that plays another local user, or a victim without root.
inline constexpr uid_t otherUserId = 65534;

/// Why no other user can be played here (the tests do not run as root), or empty.
std::string otherUserUnavailable();

/// Runs `body` in a forked child, so resource limits and dropped privileges never reach the test
/// process, as uid and gid otherUserId without supplementary groups when `asOtherUser` (96 when
/// that fails); returns what `body` returns, 98 when it throws, 128+N for a signal N.
int runInChild(const std::function<int()>& body, bool asOtherUser = false);

inline int runAsOtherUser(const std::function<int()>& body) {
    return runInChild(body, true);
}

} // namespace tripwire::testsupport
