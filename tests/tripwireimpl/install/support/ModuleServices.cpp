#include "ModuleServices.h"

#include <foundation/cppmicroservices/FrameworkAccess.h>

#include <cppmicroservices/FrameworkEvent.h>
#include <cppmicroservices/FrameworkFactory.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace tripwire_test {

RunningFramework::RunningFramework()
    : framework(std::make_shared<cppmicroservices::Framework>(
          cppmicroservices::FrameworkFactory().NewFramework())) {
    framework->Start();
    foundation::cppmicroservices::setFramework(framework);
}

RunningFramework::~RunningFramework() {
    foundation::cppmicroservices::clearFramework();
    framework->Stop();
    framework->WaitForStop(std::chrono::milliseconds::zero());
}

cppmicroservices::BundleContext RunningFramework::context() {
    return framework->GetBundleContext();
}

std::string stageDirectory() {
    const char* stage = std::getenv("TRIPWIRE_STAGE_DIR");
    return stage == nullptr ? std::string() : std::string(stage);
}

std::string stagedKciArchive() {
    namespace stdfs = std::filesystem;
    const std::string stage = stageDirectory();
    if (stage.empty()) {
        return {};
    }
    std::error_code ignored;
    for (const auto& entry :
         stdfs::directory_iterator(stdfs::path(stage) / "sys/qbds/win64", ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("kci_", 0) == 0 && entry.path().extension() == ".zip") {
            return entry.path().string();
        }
    }
    return {};
}

} // namespace tripwire_test
