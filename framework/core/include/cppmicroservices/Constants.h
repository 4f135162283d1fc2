#ifndef CPPMICROSERVICES_CONSTANTS_H
#define CPPMICROSERVICES_CONSTANTS_H

#include "cppmicroservices/FrameworkConfig.h"

#include <string>

namespace cppmicroservices::Constants {

inline std::string const SYSTEM_BUNDLE_LOCATION = "System Bundle";
inline std::string const SYSTEM_BUNDLE_SYMBOLICNAME = "system_bundle";
inline std::string const BUNDLE_SYMBOLICNAME = "bundle.symbolic_name";
inline std::string const BUNDLE_ACTIVATOR = "bundle.activator";
inline std::string const FRAMEWORK_LOG = "org.cppmicroservices.framework.log";
inline std::string const OBJECTCLASS = "objectclass";
inline std::string const SERVICE_ID = "service.id";
inline std::string const SERVICE_RANKING = "service.ranking";
inline std::string const SERVICE_SCOPE = "service.scope";
inline std::string const SCOPE_SINGLETON = "singleton";
inline std::string const SCOPE_BUNDLE = "bundle";
inline std::string const SCOPE_PROTOTYPE = "prototype";

} // namespace cppmicroservices::Constants

#endif
