#ifndef CPPMICROSERVICES_BUNDLEEVENT_H
#define CPPMICROSERVICES_BUNDLEEVENT_H

#include "cppmicroservices/FrameworkExport.h"

#include <cstdint>
#include <iostream>
#include <memory>

namespace cppmicroservices {

class Bundle;
class BundleEventData;

/// A change in a bundle's life, delivered synchronously to bundle listeners on
/// the thread that made the change.
class US_Framework_EXPORT BundleEvent {
    std::shared_ptr<BundleEventData> d;

public:
    enum Type : uint32_t {
        BUNDLE_INSTALLED = 0x00000001,
        BUNDLE_STARTED = 0x00000002,
        BUNDLE_STOPPED = 0x00000004,
        BUNDLE_UPDATED = 0x00000008,
        BUNDLE_UNINSTALLED = 0x00000010,
        BUNDLE_RESOLVED = 0x00000020,
        BUNDLE_UNRESOLVED = 0x00000040,
        BUNDLE_STARTING = 0x00000080,
        BUNDLE_STOPPING = 0x00000100,
        BUNDLE_LAZY_ACTIVATION = 0x00000200
    };

    BundleEvent();
    explicit operator bool() const;
    BundleEvent(Type type, Bundle const& bundle);
    BundleEvent(Type type, Bundle const& bundle, Bundle const& origin);

    Bundle GetBundle() const;
    Type GetType() const;
    Bundle GetOrigin() const;

    bool operator==(BundleEvent const& evt) const;
};

US_Framework_EXPORT std::ostream& operator<<(std::ostream& os, BundleEvent::Type eventType);
US_Framework_EXPORT std::ostream& operator<<(std::ostream& os, BundleEvent const& event);

} // namespace cppmicroservices

#endif
