#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/BundleEvent.h"
#include "cppmicroservices/FrameworkEvent.h"
#include "cppmicroservices/ListenerToken.h"

#include <stdexcept>
#include <utility>

namespace cppmicroservices {

class BundleEventData {
public:
    BundleEvent::Type type;
    Bundle bundle;
    Bundle origin;
};

BundleEvent::BundleEvent() = default;
BundleEvent::operator bool() const {
    return static_cast<bool>(d);
}
BundleEvent::BundleEvent(Type type, Bundle const& bundle) : BundleEvent(type, bundle, bundle) {}
BundleEvent::BundleEvent(Type type, Bundle const& bundle, Bundle const& origin)
    : d(std::make_shared<BundleEventData>(BundleEventData{type, bundle, origin})) {
    if (!bundle) {
        throw std::invalid_argument("invalid bundle");
    }
}
Bundle BundleEvent::GetBundle() const {
    return d ? d->bundle : Bundle();
}
BundleEvent::Type BundleEvent::GetType() const {
    return d ? d->type : BUNDLE_INSTALLED;
}
Bundle BundleEvent::GetOrigin() const {
    return d ? d->origin : Bundle();
}
bool BundleEvent::operator==(BundleEvent const& evt) const {
    if (!d || !evt.d) {
        return !d && !evt.d;
    }
    return d->type == evt.d->type && d->bundle == evt.d->bundle && d->origin == evt.d->origin;
}

std::ostream& operator<<(std::ostream& os, BundleEvent::Type eventType) {
    switch (eventType) {
    case BundleEvent::BUNDLE_INSTALLED:
        return os << "INSTALLED";
    case BundleEvent::BUNDLE_STARTED:
        return os << "STARTED";
    case BundleEvent::BUNDLE_STOPPED:
        return os << "STOPPED";
    case BundleEvent::BUNDLE_UPDATED:
        return os << "UPDATED";
    case BundleEvent::BUNDLE_UNINSTALLED:
        return os << "UNINSTALLED";
    case BundleEvent::BUNDLE_RESOLVED:
        return os << "RESOLVED";
    case BundleEvent::BUNDLE_UNRESOLVED:
        return os << "UNRESOLVED";
    case BundleEvent::BUNDLE_STARTING:
        return os << "STARTING";
    case BundleEvent::BUNDLE_STOPPING:
        return os << "STOPPING";
    case BundleEvent::BUNDLE_LAZY_ACTIVATION:
        return os << "LAZY_ACTIVATION";
    }
    return os << "Unknown bundle event type (" << static_cast<uint32_t>(eventType) << ")";
}

std::ostream& operator<<(std::ostream& os, BundleEvent const& event) {
    if (!event) {
        return os << "NONE";
    }
    return os << "BundleEvent " << event.GetType() << " " << event.GetBundle();
}

class FrameworkEventData {
public:
    FrameworkEvent::Type type;
    Bundle bundle;
    std::string message;
    std::exception_ptr exception;
};

FrameworkEvent::FrameworkEvent() = default;
FrameworkEvent::operator bool() const {
    return static_cast<bool>(d);
}
FrameworkEvent::FrameworkEvent(Type type, Bundle const& bundle, std::string const& message,
                               std::exception_ptr const exception)
    : d(std::make_shared<FrameworkEventData>(
          FrameworkEventData{type, bundle, message, exception})) {}
Bundle FrameworkEvent::GetBundle() const {
    return d ? d->bundle : Bundle();
}
std::string FrameworkEvent::GetMessage() const {
    return d ? d->message : std::string();
}
std::exception_ptr FrameworkEvent::GetThrowable() const {
    return d ? d->exception : nullptr;
}
FrameworkEvent::Type FrameworkEvent::GetType() const {
    return d ? d->type : FRAMEWORK_ERROR;
}

std::ostream& operator<<(std::ostream& os, FrameworkEvent::Type eventType) {
    switch (eventType) {
    case FrameworkEvent::FRAMEWORK_STARTED:
        return os << "STARTED";
    case FrameworkEvent::FRAMEWORK_ERROR:
        return os << "ERROR";
    case FrameworkEvent::FRAMEWORK_WARNING:
        return os << "WARNING";
    case FrameworkEvent::FRAMEWORK_INFO:
        return os << "INFO";
    case FrameworkEvent::FRAMEWORK_STOPPED:
        return os << "STOPPED";
    case FrameworkEvent::FRAMEWORK_STOPPED_UPDATE:
        return os << "STOPPED_UPDATE";
    case FrameworkEvent::FRAMEWORK_WAIT_TIMEDOUT:
        return os << "WAIT_TIMEDOUT";
    }
    return os << "Unknown framework event type (" << static_cast<uint32_t>(eventType) << ")";
}

std::ostream& operator<<(std::ostream& os, FrameworkEvent const& evt) {
    if (!evt) {
        return os << "NONE";
    }
    os << "FrameworkEvent: [" << evt.GetType() << "] " << evt.GetMessage();
    if (auto error = evt.GetThrowable()) {
        try {
            std::rethrow_exception(error);
        } catch (std::exception const& e) {
            os << " (" << e.what() << ")";
        } catch (...) {
            os << " (unknown exception)";
        }
    }
    return os;
}

bool operator==(FrameworkEvent const& rhs, FrameworkEvent const& lhs) {
    return rhs.GetType() == lhs.GetType() && rhs.GetBundle() == lhs.GetBundle() &&
           rhs.GetMessage() == lhs.GetMessage() && rhs.GetThrowable() == lhs.GetThrowable();
}

ListenerToken::ListenerToken() : tokenId(0) {}
ListenerToken::ListenerToken(ListenerTokenId id) : tokenId(id) {}
ListenerToken::ListenerToken(ListenerToken&& other) noexcept
    : tokenId(std::exchange(other.tokenId, 0)) {}
ListenerToken& ListenerToken::operator=(ListenerToken&& other) noexcept {
    tokenId = std::exchange(other.tokenId, 0);
    return *this;
}
ListenerToken::operator bool() const {
    return tokenId != 0;
}
ListenerTokenId ListenerToken::Id() const {
    return tokenId;
}

} // namespace cppmicroservices
