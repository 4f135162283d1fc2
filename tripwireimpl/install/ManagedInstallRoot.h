#pragma once

#include "OnceFlag.h"

#include <fl/i18n/ustring.h>

#include <mutex>
#include <string>

namespace halvexconnector::tripwireimpl {

// The environment variable that names a managed install root; while it is set this module
// installs nothing.
extern const char* const managedInstallRootVariable;

// Guards the notice: it appears once per process, whichever thread or service object sees the
// variable first. Never reset.
extern OnceFlag managedInstallRootNoticeOnce;

// The notice with the placeholder replaced by the UTF-8 value (once, the value not searched
// again). Without a trailing std::endl.
std::string managedInstallRootNotice(const std::string& utf8Value);

// Writes the notice for this value to standard error (flushed), and one record of severity 512
// when the module's logger takes it. Run it only through managedInstallRootNoticeOnce.
void reportManagedInstallRootError(const fl::ustring& overrideValue);

// Reads the variable afresh. When it is set, writes the notice unless this process already did
// and returns true: the install attempt must fail without doing anything else. An exception while
// writing leaves the notice to a later call.
bool reportManagedInstallRootIfSet();

} // namespace halvexconnector::tripwireimpl
