#pragma once

#include <cstdint>

namespace halvexconnector::latestversion::kciextractor {

/// Bounds on what one archive may make the extractor write. Sizes count the bytes actually
/// produced while an entry is decompressed; sizes stated in the archive's headers are only used
/// to refuse early.
struct ExtractionLimits {
    /// Most entries (files and directories) an archive may hold.
    std::uint64_t maxEntries = 10'000;
    /// Most bytes all files together may decompress to.
    std::uint64_t maxTotalBytes = std::uint64_t{4} << 30;
    /// Highest ratio of decompressed to compressed bytes an entry may reach ...
    std::uint64_t maxCompressionRatio = 1'000;
    /// ... once it has produced more than this many bytes.
    std::uint64_t compressionRatioThreshold = std::uint64_t{1} << 20;
    /// Most directory levels an entry's name may have (a file at "a/b/c" is at level 3): a tree
    /// nested without end would defeat its own removal.
    std::uint64_t maxDepth = 256;
    /// Free space the extraction must leave on the file system beside what the archive's
    /// headers say it unpacks to; an archive that would leave less is refused before anything
    /// is written.
    std::uint64_t keepFreeBytes = 64 * 1024;
};

} // namespace halvexconnector::latestversion::kciextractor
