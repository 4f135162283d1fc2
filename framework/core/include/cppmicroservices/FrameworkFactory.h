#ifndef CPPMICROSERVICES_FRAMEWORKFACTORY_H
#define CPPMICROSERVICES_FRAMEWORKFACTORY_H

#include "cppmicroservices/Any.h"
#include "cppmicroservices/FrameworkConfig.h"

#include <iostream>
#include <string>
#include <unordered_map>

namespace cppmicroservices {

class Framework;

using FrameworkConfiguration = std::unordered_map<std::string, Any>;

/// Makes new framework instances.
///
/// Configuration keys read:
///  - "org.cppmicroservices.framework.log" (bool, or "true"/"false"): whether
///    FRAMEWORK_ERROR/WARNING/INFO events are written to the log stream.
///    Default true.
/// The log stream is `logger` when given, else std::clog.
class US_Framework_EXPORT FrameworkFactory {
public:
    Framework NewFramework(FrameworkConfiguration const& configuration,
                           std::ostream* logger = nullptr);
    Framework NewFramework();
};

} // namespace cppmicroservices

#endif
