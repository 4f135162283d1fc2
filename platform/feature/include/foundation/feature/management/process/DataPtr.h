#pragma once

#include <foundation/feature/detail/State.h>

#include <string>

namespace foundation::feature::management::process {

/// The state record of the flag `name`: the same pointer for the same name on every call and
/// from every thread, valid until the process ends (records are never freed, so flags may be
/// evaluated even while static objects are being destroyed). Names are case-sensitive.
/// Throws std::invalid_argument for an empty name.
detail::State* getDataPtr(const std::string& name);

} // namespace foundation::feature::management::process
