#include "EnvironmentUrlManager.h"

namespace foundation::urlmanager {

std::shared_ptr<UrlManager> createUrlManager() {
    return std::make_shared<detail::EnvironmentUrlManager>();
}

} // namespace foundation::urlmanager
