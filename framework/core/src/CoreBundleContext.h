#ifndef CPPMICROSERVICES_SRC_COREBUNDLECONTEXT_H
#define CPPMICROSERVICES_SRC_COREBUNDLECONTEXT_H

#include "ServiceRegistry.h"

#include "cppmicroservices/BundleEvent.h"
#include "cppmicroservices/FrameworkEvent.h"
#include "cppmicroservices/FrameworkFactory.h"
#include "cppmicroservices/ListenerFunctors.h"
#include "cppmicroservices/ListenerToken.h"

#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace cppmicroservices {

class BundlePrivate;

/// The state one framework instance shares among its bundles: configuration,
/// installed bundles, start order, listeners and the service registry.
class CoreBundleContext : public std::enable_shared_from_this<CoreBundleContext> {
public:
    CoreBundleContext(FrameworkConfiguration configuration, std::ostream* logger);

    FrameworkConfiguration const config;
    ServiceRegistry services;

    void SetSystemBundle(std::shared_ptr<BundlePrivate> const& system);
    std::shared_ptr<BundlePrivate> SystemBundle() const;

    /// Installs (or finds) the bundle at `location`; the second member says
    /// whether it was new.
    std::pair<std::shared_ptr<BundlePrivate>, bool> Install(std::string const& location);
    std::shared_ptr<BundlePrivate> GetBundle(long id) const;
    std::vector<std::shared_ptr<BundlePrivate>> GetBundles() const;

    void RecordStarted(std::shared_ptr<BundlePrivate> const& bundle);
    void RecordStopped(BundlePrivate const* bundle);
    /// Started bundles, most recently started first.
    std::vector<std::shared_ptr<BundlePrivate>> StartedNewestFirst() const;

    ListenerToken AddBundleListener(BundleListener listener);
    ListenerToken AddFrameworkListener(FrameworkListener listener);
    void RemoveListener(ListenerTokenId id);

    void FireBundleEvent(BundleEvent const& event);
    void FireFrameworkEvent(FrameworkEvent const& event);
    /// A FRAMEWORK_ERROR event about `bundle` (the system bundle when null).
    void ReportError(std::shared_ptr<BundlePrivate> const& bundle, std::string const& message,
                     std::exception_ptr error);

private:
    void Log(FrameworkEvent const& event);

    std::ostream* logStream;
    bool logEnabled;
    std::mutex logMutex;

    mutable std::mutex bundlesMutex;
    std::mutex installMutex;
    std::weak_ptr<BundlePrivate> systemBundle;
    std::vector<std::shared_ptr<BundlePrivate>> bundles;
    std::vector<std::shared_ptr<BundlePrivate>> startOrder;
    long nextBundleId = 1;

    std::mutex listenersMutex;
    ListenerTokenId nextToken = 1;
    std::map<ListenerTokenId, BundleListener> bundleListeners;
    std::map<ListenerTokenId, FrameworkListener> frameworkListeners;
};

} // namespace cppmicroservices

#endif
