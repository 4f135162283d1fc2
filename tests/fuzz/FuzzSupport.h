#pragma once

// What the harnesses share: reporting a broken promise as a crash, a scratch directory for the
// process, and splitting one input into several related texts.
#include <tripwire/testsupport/TempDirectory.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tripwire_fuzz {

/// Each harness is its own program: the message needs no harness name.
[[noreturn]] inline void violation(const char* what) {
    std::fprintf(stderr, "fuzz: broken promise: %s\n", what);
    std::abort();
}

/// A private directory, removed when the process ends normally.
inline const std::filesystem::path& scratchDirectory() {
    static const tripwire::testsupport::TempDirectory scratch;
    return scratch.path();
}

/// The input split at its first `count - 1` line feeds, always `count` fields.
inline std::vector<std::string> splitFields(const std::uint8_t* data, std::size_t size,
                                            std::size_t count) {
    std::vector<std::string> fields(1);
    for (const char c : std::string_view(reinterpret_cast<const char*>(data), size))
        if (c == '\n' && fields.size() < count)
            fields.emplace_back();
        else
            fields.back() += c;
    fields.resize(count);
    return fields;
}

} // namespace tripwire_fuzz
