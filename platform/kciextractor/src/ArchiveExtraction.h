#pragma once

#include "halvexconnector/latestversion/kciextractor/ExtractionLimits.h"

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

namespace halvexconnector::latestversion::kciextractor::detail {

/// Writes every entry of the zip archive `archive` below the directory open as `directoryFd`,
/// refusing anything unsafe: names that leave the directory, links, device files and FIFOs,
/// duplicate names, limits exceeded, bad checksums or corrupt data. Files get mode 0600, or 0700
/// when the archive marks them executable for anyone; directories 0700.
/// Returns the canonical names (see joinComponents) of the regular files written.
/// Throws KCIExtractionError naming the archive and the offending entry; what was written up to
/// then stays for the caller to remove.
std::set<std::string> extractArchive(const std::filesystem::path& archive, int directoryFd,
                                     const ExtractionLimits& limits);

/// The sum of the sizes the archive's headers state for its entries: what an extraction will
/// write if the headers are honest (the extraction counts what it really writes). 0 when the
/// archive cannot be read; the extraction then says why.
std::uint64_t statedUncompressedSize(const std::filesystem::path& archive);

} // namespace halvexconnector::latestversion::kciextractor::detail
