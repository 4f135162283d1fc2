#include "CoreBundleContext.h"

#include "BundleArchive.h"
#include "BundlePrivate.h"

#include "cppmicroservices/Constants.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <stdexcept>

namespace cppmicroservices {

namespace {

bool LogEnabled(FrameworkConfiguration const& config) {
    auto it = config.find(Constants::FRAMEWORK_LOG);
    if (it == config.end() || it->second.Empty()) {
        return true;
    }
    if (auto const* flag = any_cast<bool>(&it->second)) {
        return *flag;
    }
    std::string text = it->second.ToString();
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return !(text == "false" || text == "0" || text == "off" || text == "no");
}

std::string LibraryPathOf(std::string const& location) {
    std::error_code ec;
    auto path = std::filesystem::weakly_canonical(std::filesystem::absolute(location, ec), ec);
    return ec ? location : path.string();
}

} // namespace

CoreBundleContext::CoreBundleContext(FrameworkConfiguration configuration, std::ostream* logger)
    : config(std::move(configuration)), logStream(logger ? logger : &std::clog),
      logEnabled(LogEnabled(config)) {}

void CoreBundleContext::SetSystemBundle(std::shared_ptr<BundlePrivate> const& system) {
    std::lock_guard lock(bundlesMutex);
    systemBundle = system;
}

std::shared_ptr<BundlePrivate> CoreBundleContext::SystemBundle() const {
    std::lock_guard lock(bundlesMutex);
    return systemBundle.lock();
}

std::pair<std::shared_ptr<BundlePrivate>, bool>
CoreBundleContext::Install(std::string const& location) {
    if (location.empty()) {
        throw std::invalid_argument("Cannot install a bundle: empty location");
    }
    std::string const libraryPath = LibraryPathOf(location);
    // One install at a time, so that a location read twice concurrently still
    // becomes one bundle.
    std::lock_guard installing(installMutex);
    {
        std::lock_guard lock(bundlesMutex);
        for (auto const& b : bundles) {
            if (b->libraryPath == libraryPath) {
                return {b, false};
            }
        }
    }
    nlohmann::json manifest = ReadBundleManifest(libraryPath);
    std::string const name = manifest["bundle.symbolic_name"].get<std::string>();

    std::lock_guard lock(bundlesMutex);
    for (auto const& b : bundles) {
        if (b->symbolicName == name) {
            // Two libraries exporting the same entry-point names cannot both be bundles.
            throw std::invalid_argument("Cannot install '" + location + "': a bundle named \"" +
                                        name + "\" is already installed from '" + b->location +
                                        "'");
        }
    }
    auto bundle = std::make_shared<BundlePrivate>(shared_from_this(), nextBundleId++, location,
                                                  libraryPath, std::move(manifest));
    bundle->AttachContext();
    bundles.push_back(bundle);
    return {bundle, true};
}

std::shared_ptr<BundlePrivate> CoreBundleContext::GetBundle(long id) const {
    if (id == 0) {
        return SystemBundle();
    }
    std::lock_guard lock(bundlesMutex);
    for (auto const& b : bundles) {
        if (b->id == id) {
            return b;
        }
    }
    return nullptr;
}

std::vector<std::shared_ptr<BundlePrivate>> CoreBundleContext::GetBundles() const {
    std::lock_guard lock(bundlesMutex);
    std::vector<std::shared_ptr<BundlePrivate>> result;
    if (auto system = systemBundle.lock()) {
        result.push_back(system);
    }
    result.insert(result.end(), bundles.begin(), bundles.end());
    return result;
}

void CoreBundleContext::RecordStarted(std::shared_ptr<BundlePrivate> const& bundle) {
    std::lock_guard lock(bundlesMutex);
    std::erase(startOrder, bundle);
    startOrder.push_back(bundle);
}

void CoreBundleContext::RecordStopped(BundlePrivate const* bundle) {
    std::lock_guard lock(bundlesMutex);
    std::erase_if(startOrder, [bundle](auto const& b) { return b.get() == bundle; });
}

std::vector<std::shared_ptr<BundlePrivate>> CoreBundleContext::StartedNewestFirst() const {
    std::lock_guard lock(bundlesMutex);
    return {startOrder.rbegin(), startOrder.rend()};
}

ListenerToken CoreBundleContext::AddBundleListener(BundleListener listener) {
    std::lock_guard lock(listenersMutex);
    ListenerTokenId const id = nextToken++;
    bundleListeners.emplace(id, std::move(listener));
    return ListenerToken(id);
}

ListenerToken CoreBundleContext::AddFrameworkListener(FrameworkListener listener) {
    std::lock_guard lock(listenersMutex);
    ListenerTokenId const id = nextToken++;
    frameworkListeners.emplace(id, std::move(listener));
    return ListenerToken(id);
}

void CoreBundleContext::RemoveListener(ListenerTokenId id) {
    std::lock_guard lock(listenersMutex);
    bundleListeners.erase(id);
    frameworkListeners.erase(id);
}

void CoreBundleContext::FireBundleEvent(BundleEvent const& event) {
    std::vector<BundleListener> listeners;
    {
        std::lock_guard lock(listenersMutex);
        for (auto const& [id, listener] : bundleListeners) {
            listeners.push_back(listener);
        }
    }
    // Listeners run without any framework lock held: they may call back in.
    for (auto const& listener : listeners) {
        try {
            listener(event);
        } catch (...) {
            ReportError(GetPrivate(event.GetBundle()), "A bundle listener threw an exception",
                        std::current_exception());
        }
    }
}

void CoreBundleContext::FireFrameworkEvent(FrameworkEvent const& event) {
    Log(event);
    std::vector<FrameworkListener> listeners;
    {
        std::lock_guard lock(listenersMutex);
        for (auto const& [id, listener] : frameworkListeners) {
            listeners.push_back(listener);
        }
    }
    for (auto const& listener : listeners) {
        try {
            listener(event);
        } catch (...) {
            // A failing framework listener must not raise another framework event.
            Log(FrameworkEvent(FrameworkEvent::FRAMEWORK_ERROR, event.GetBundle(),
                               "A framework listener threw an exception",
                               std::current_exception()));
        }
    }
}

void CoreBundleContext::ReportError(std::shared_ptr<BundlePrivate> const& bundle,
                                    std::string const& message, std::exception_ptr error) {
    auto subject = bundle ? bundle : SystemBundle();
    FireFrameworkEvent(FrameworkEvent(FrameworkEvent::FRAMEWORK_ERROR,
                                      subject ? MakeBundle(subject) : Bundle(), message, error));
}

void CoreBundleContext::Log(FrameworkEvent const& event) {
    auto const type = event.GetType();
    if (!logEnabled ||
        (type != FrameworkEvent::FRAMEWORK_ERROR && type != FrameworkEvent::FRAMEWORK_WARNING &&
         type != FrameworkEvent::FRAMEWORK_INFO)) {
        return;
    }
    std::lock_guard lock(logMutex);
    *logStream << "cppmicroservices: " << event;
    if (auto bundle = event.GetBundle()) {
        *logStream << " [bundle " << bundle.GetSymbolicName() << "]";
    }
    *logStream << std::endl;
}

} // namespace cppmicroservices
