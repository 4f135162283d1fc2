#pragma once

// Shared between the implementation files; not installed.

#include <boost/log/core/core.hpp>
#include <boost/shared_ptr.hpp>

namespace foundation::log::detail {

/// Reads the environment once per process (first caller) and returns the logging core.
const boost::shared_ptr<boost::log::core>& configured_core();

} // namespace foundation::log::detail
