#pragma once

#include "halvexconnector/tripwire/IInstallObserver.h"

#include <string>

namespace halvexconnector::tripwireimpl {

// Tells the host's install observer, when it registered one, that the attempt enters `stage`.
// Never throws and never changes the attempt: a missing framework, a failed lookup or an
// observer that throws are all ignored.
void announceStage(tripwire::InstallStage stage) noexcept;

// Tells the observer, on the same terms, why `stage` failed.
void announceStageFailure(tripwire::InstallStage stage, const std::string& reason) noexcept;

// Tells the observer, on the same terms, which installer is downloaded from where (any fragment
// of `url` left out: it carries the digest, which is no news to people).
void announceInstallerDownload(const std::string& version, const std::string& url) noexcept;

// The message of the exception being handled, without the diagnostic detail. Call only inside a
// handler.
std::string currentExceptionReason();

} // namespace halvexconnector::tripwireimpl
