#pragma once

#include <cstddef>
#include <iostream>
#include <sstream>
#include <string>

namespace tripwire::testsupport {

/// Holds what is written to std::cerr for the scope, and gives it back as text.
class StandardErrorCapture {
public:
    StandardErrorCapture() : previous(std::cerr.rdbuf(captured.rdbuf())) {}
    ~StandardErrorCapture() { std::cerr.rdbuf(previous); }
    StandardErrorCapture(const StandardErrorCapture&) = delete;
    StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;
    std::string text() const { return captured.str(); }

private:
    std::ostringstream captured;
    std::streambuf* previous;
};

/// How often `part` occurs in `text`, overlapping occurrences included.
inline std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

} // namespace tripwire::testsupport
