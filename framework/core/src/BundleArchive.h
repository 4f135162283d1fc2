#ifndef CPPMICROSERVICES_SRC_BUNDLEARCHIVE_H
#define CPPMICROSERVICES_SRC_BUNDLEARCHIVE_H

#include <nlohmann/json.hpp>

#include <string>

namespace cppmicroservices {

/// Reads the manifest of the bundle whose zip archive is appended to the file at
/// `path`: the entry "<symbolic name>/manifest.json". The result is a JSON object
/// with a non-empty "bundle.symbolic_name" equal to the entry's folder.
/// Throws std::runtime_error when the file cannot be read and
/// std::invalid_argument when it holds no valid manifest; both name the file.
nlohmann::json ReadBundleManifest(std::string const& path);

} // namespace cppmicroservices

#endif
