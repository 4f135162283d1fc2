#ifndef CPPMICROSERVICES_SRC_BUNDLECONTEXTPRIVATE_H
#define CPPMICROSERVICES_SRC_BUNDLECONTEXTPRIVATE_H

#include "cppmicroservices/BundleContext.h"

#include <atomic>
#include <memory>

namespace cppmicroservices {

class BundlePrivate;

/// The record behind a bundle's contexts: one per bundle, valid while the bundle
/// is starting, active or stopping. Bundle libraries hold a raw pointer to it.
class BundleContextPrivate : public std::enable_shared_from_this<BundleContextPrivate> {
public:
    explicit BundleContextPrivate(std::weak_ptr<BundlePrivate> owner) : bundle(std::move(owner)) {}

    /// The bundle; throws IllegalStateException when the context is not valid.
    std::shared_ptr<BundlePrivate> CheckedBundle() const;

    std::weak_ptr<BundlePrivate> const bundle;
    std::atomic<bool> valid{false};
};

BundleContext MakeBundleContext(std::shared_ptr<BundleContextPrivate> const& d);
std::shared_ptr<BundleContextPrivate> GetPrivate(BundleContext const& context);

} // namespace cppmicroservices

#endif
