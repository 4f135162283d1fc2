#include "ProgressObservers.h"

namespace tripwire_host {

namespace {

class DownloadObserver final : public foundation::httpclient_core::TransferObserver {
public:
    explicit DownloadObserver(std::shared_ptr<ProgressDisplay> display)
        : display(std::move(display)) {}
    // The module names the installer's URL itself (StageWatcher), with its version.
    void transferStarted(const std::string& /*url*/) override { display->transferStarted(); }
    void transferProgress(const std::string& /*url*/, std::uint64_t received,
                          std::optional<std::uint64_t> total) override {
        display->transferProgress(received, total);
    }
    void transferFinished(const std::string& /*url*/, bool /*succeeded*/) override {
        display->transferFinished();
    }

private:
    std::shared_ptr<ProgressDisplay> display;
};

} // namespace

void StageWatcher::installStageEntered(halvexconnector::tripwire::InstallStage stage) {
    std::shared_ptr<ProgressDisplay> shown;
    {
        std::lock_guard<std::mutex> lock(guard);
        shown = display;
    }
    if (shown) {
        shown->stageEntered(halvexconnector::tripwire::describe(stage));
    }
}

void StageWatcher::installStageFailed(halvexconnector::tripwire::InstallStage /*stage*/,
                                      const std::string& reason) {
    std::lock_guard<std::mutex> lock(guard);
    failure = reason;
}

void StageWatcher::installerDownloadStarted(const std::string& version, const std::string& url) {
    std::shared_ptr<ProgressDisplay> shown;
    {
        std::lock_guard<std::mutex> lock(guard);
        download = InstallerDownload{version, url};
        shown = display;
    }
    if (shown) {
        shown->detail("version " + version + " from " + url);
    }
}

std::optional<InstallerDownload> StageWatcher::lastDownload() const {
    std::lock_guard<std::mutex> lock(guard);
    return download;
}

void StageWatcher::attach(std::shared_ptr<ProgressDisplay> shown) {
    std::lock_guard<std::mutex> lock(guard);
    display = std::move(shown);
}

std::optional<std::string> StageWatcher::lastFailure() const {
    std::lock_guard<std::mutex> lock(guard);
    return failure;
}

void StageWatcher::forgetFailure() {
    std::lock_guard<std::mutex> lock(guard);
    failure.reset();
}

ProgressObservers::ProgressObservers(cppmicroservices::BundleContext context,
                                     std::shared_ptr<ProgressDisplay> display,
                                     std::shared_ptr<StageWatcher> stages)
    : display(std::move(display)), stages(std::move(stages)) {
    transfers = context.RegisterService<foundation::httpclient_core::TransferObserver>(
        std::make_shared<DownloadObserver>(this->display));
    this->stages->attach(this->display);
}

ProgressObservers::~ProgressObservers() {
    stages->attach(nullptr);
    try {
        if (transfers) {
            transfers.Unregister();
        }
    } catch (...) {
        // The framework has stopped and withdrawn it already.
    }
    display->close();
}

} // namespace tripwire_host
