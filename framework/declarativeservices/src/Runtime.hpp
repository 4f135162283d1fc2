#ifndef DECLARATIVESERVICES_RUNTIME_HPP
#define DECLARATIVESERVICES_RUNTIME_HPP

#include "ComponentManager.hpp"

#include "cppmicroservices/BundleContext.h"
#include "cppmicroservices/BundleEvent.h"
#include "cppmicroservices/ListenerToken.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace cppmicroservices::scrimpl {

/// Watches bundles start and stop and manages the components their manifests declare under
/// "scr": registered when the bundle has started, disposed of when it begins to stop.
class Runtime {
public:
    explicit Runtime(BundleContext context);

    /// Takes on the bundles that are already active and every one that starts later.
    void Start();
    /// Disposes of every component, newest bundle first.
    void Stop();

private:
    using Managers = std::vector<std::shared_ptr<ComponentManager>>;

    void onBundleEvent(const BundleEvent& event);
    void addBundle(const Bundle& bundle);
    void removeBundle(const Bundle& bundle);
    Managers createManagers(const Bundle& bundle);
    void activateImmediately(ComponentManager& manager, const Bundle& bundle);
    void reportError(const Bundle& bundle, const std::string& message);

    BundleContext context;
    ListenerToken listener;
    std::mutex lock;
    bool stopped = false;
    std::map<long, Managers> bundles; ///< bundle id -> its components, in manifest order
    std::vector<long> startOrder;
    long nextComponentId = 0;
};

} // namespace cppmicroservices::scrimpl

#endif
