#pragma once

#include <foundation/urlmanager/UrlManager.h>

namespace foundation::urlmanager::detail {

/// Built-in URLs, each replaceable through "QB_URL_<key>" in the environment at question time.
class EnvironmentUrlManager final : public UrlManager {
public:
    std::string getUrl(const std::string& key) const override;
};

} // namespace foundation::urlmanager::detail
