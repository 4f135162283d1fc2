#include "cppmicroservices/Framework.h"

#include "BundleContextPrivate.h"
#include "CoreBundleContext.h"
#include "FrameworkPrivate.h"

#include "cppmicroservices/FrameworkEvent.h"
#include "cppmicroservices/FrameworkFactory.h"

#include <stdexcept>

namespace cppmicroservices {

FrameworkPrivate::FrameworkPrivate(std::shared_ptr<CoreBundleContext> const& c)
    : BundlePrivate(c, 0, "System Bundle", std::string(), nlohmann::json::object()), ownedCore(c) {}

void FrameworkPrivate::Init() {
    std::lock_guard lock(lifecycleMutex);
    auto const current = state.load();
    if (current == Bundle::STATE_STARTING || current == Bundle::STATE_ACTIVE) {
        return;
    }
    if (current == Bundle::STATE_STOPPING) {
        throw std::runtime_error("The framework cannot be initialised while it is stopping");
    }
    context->valid = true;
    state = Bundle::STATE_STARTING;
}

void FrameworkPrivate::Start() {
    std::lock_guard lock(lifecycleMutex);
    Init();
    if (state.load() == Bundle::STATE_ACTIVE) {
        return;
    }
    state = Bundle::STATE_ACTIVE;
    ownedCore->FireFrameworkEvent(FrameworkEvent(
        FrameworkEvent::FRAMEWORK_STARTED, MakeBundle(shared_from_this()), "Framework started"));
}

void FrameworkPrivate::StopBundles() {
    for (auto const& bundle : ownedCore->StartedNewestFirst()) {
        try {
            bundle->Stop();
        } catch (...) {
            ownedCore->ReportError(bundle,
                                   "Stopping bundle \"" + bundle->symbolicName + "\" failed",
                                   std::current_exception());
        }
    }
}

void FrameworkPrivate::Stop() {
    {
        std::lock_guard lock(lifecycleMutex);
        auto const current = state.load();
        if (current != Bundle::STATE_STARTING && current != Bundle::STATE_ACTIVE) {
            return;
        }
        state = Bundle::STATE_STOPPING;
        StopBundles();
        ownedCore->services.UnregisterAll(this);
        ownedCore->services.ReleaseObjectsOf(this);
        context->valid = false;
        state = Bundle::STATE_RESOLVED;
    }
    {
        std::lock_guard lock(stopMutex);
        ++stopGeneration;
    }
    stopped.notify_all();
}

FrameworkEvent FrameworkPrivate::WaitForStop(std::chrono::milliseconds timeout) {
    Bundle const self = MakeBundle(shared_from_this());
    std::unique_lock lock(stopMutex);
    auto const current = state.load();
    if (current != Bundle::STATE_STARTING && current != Bundle::STATE_ACTIVE &&
        current != Bundle::STATE_STOPPING) {
        return FrameworkEvent(FrameworkEvent::FRAMEWORK_STOPPED, self, "Framework stopped");
    }
    auto const generation = stopGeneration;
    auto const done = [&] {
        return stopGeneration != generation;
    };
    if (timeout.count() <= 0) {
        stopped.wait(lock, done);
    } else if (!stopped.wait_for(lock, timeout, done)) {
        return FrameworkEvent(FrameworkEvent::FRAMEWORK_WAIT_TIMEDOUT, self,
                              "Timed out waiting for the framework to stop");
    }
    return FrameworkEvent(FrameworkEvent::FRAMEWORK_STOPPED, self, "Framework stopped");
}

namespace {
FrameworkPrivate& AsFramework(std::shared_ptr<BundlePrivate> const& d) {
    auto* fw = dynamic_cast<FrameworkPrivate*>(d.get());
    if (!fw) {
        throw std::invalid_argument("not a framework bundle");
    }
    return *fw;
}
} // namespace

Framework::Framework(Bundle b) : Bundle(std::move(b)) {
    if (d && !dynamic_cast<FrameworkPrivate*>(d.get())) {
        throw std::logic_error(
            "Cannot make a Framework from a bundle other than the system bundle");
    }
}
Framework::Framework(Framework const& fw) = default;
Framework::Framework(Framework&& fw) noexcept = default;
Framework& Framework::operator=(Framework const& fw) = default;
Framework& Framework::operator=(Framework&& fw) noexcept = default;
Framework::Framework(std::shared_ptr<FrameworkPrivate> const& p) : Bundle(p) {}

void Framework::Init() {
    AsFramework(d).Init();
}

FrameworkEvent Framework::WaitForStop(std::chrono::milliseconds const& timeout) {
    return AsFramework(d).WaitForStop(timeout);
}

Framework FrameworkFactory::NewFramework(FrameworkConfiguration const& configuration,
                                         std::ostream* logger) {
    auto core = std::make_shared<CoreBundleContext>(configuration, logger);
    auto fw = std::make_shared<FrameworkPrivate>(core);
    fw->AttachContext();
    core->SetSystemBundle(fw);
    return Framework(fw);
}

Framework FrameworkFactory::NewFramework() {
    return NewFramework(FrameworkConfiguration());
}

} // namespace cppmicroservices
