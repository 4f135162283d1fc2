#include "ProgressObservers.h"

namespace tripwire_host {

namespace {

class StageObserver final : public halvexconnector::tripwire::IInstallObserver {
public:
    explicit StageObserver(std::shared_ptr<ProgressDisplay> display)
        : display(std::move(display)) {}
    void installStageEntered(halvexconnector::tripwire::InstallStage stage) override {
        display->stageEntered(halvexconnector::tripwire::describe(stage));
    }

private:
    std::shared_ptr<ProgressDisplay> display;
};

class DownloadObserver final : public foundation::httpclient_core::TransferObserver {
public:
    explicit DownloadObserver(std::shared_ptr<ProgressDisplay> display)
        : display(std::move(display)) {}
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

template <typename Registration> void withdraw(Registration& registration) noexcept {
    try {
        if (registration) {
            registration.Unregister();
        }
    } catch (...) {
        // The framework has stopped and withdrawn it already.
    }
}

} // namespace

ProgressObservers::ProgressObservers(cppmicroservices::BundleContext context,
                                     std::shared_ptr<ProgressDisplay> display)
    : display(std::move(display)) {
    stages = context.RegisterService<halvexconnector::tripwire::IInstallObserver>(
        std::make_shared<StageObserver>(this->display));
    try {
        transfers = context.RegisterService<foundation::httpclient_core::TransferObserver>(
            std::make_shared<DownloadObserver>(this->display));
    } catch (...) {
        withdraw(stages);
        throw;
    }
}

ProgressObservers::~ProgressObservers() {
    withdraw(transfers);
    withdraw(stages);
    display->clear();
}

} // namespace tripwire_host
