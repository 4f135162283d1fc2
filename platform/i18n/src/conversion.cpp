#include <fl/i18n/conversion.h>

#include <cstdint>
#include <cstdio>

namespace fl::i18n {
namespace {

constexpr char32_t escape_base = 0xDC00; // bytes 0x80..0xFF escape to U+DC80..U+DCFF

std::string hex_byte(unsigned char byte) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "0x%02X", byte);
    return buffer;
}

std::string hex_unit(char16_t unit) {
    char buffer[12];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(unit));
    return buffer;
}

// Length of the valid UTF-8 sequence starting at `pos`, with its code point; 0 when invalid
// (bad lead byte, bad or missing continuation, overlong form, surrogate, beyond U+10FFFF).
std::size_t decode_utf8(std::string_view s, std::size_t pos, char32_t& cp) {
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(s[i]);
    };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            low = 0xA0; // overlong below U+0800
        } else if (lead == 0xED) {
            high = 0x9F; // U+D800..U+DFFF are not characters
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            low = 0x90; // overlong below U+10000
        } else if (lead == 0xF4) {
            high = 0x8F; // beyond U+10FFFF
        }
    } else {
        return 0;
    }
    if (pos + length > s.size()) {
        return 0;
    }
    const unsigned char second = byte(pos + 1);
    if (second < low || second > high) {
        return 0;
    }
    char32_t value = lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (next & 0x3F);
    }
    cp = value;
    return length;
}

void append_utf16(ustring& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool is_high_surrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low_surrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Paths and names are mostly ASCII: runs of it are copied without decoding byte by byte.
std::size_t ascii_run(std::string_view s, std::size_t pos) {
    std::size_t end = pos;
    while (end < s.size() && static_cast<unsigned char>(s[end]) < 0x80) {
        ++end;
    }
    return end - pos;
}

std::size_t ascii_run(std::u16string_view s, std::size_t pos) {
    std::size_t end = pos;
    while (end < s.size() && s[end] < 0x80) {
        ++end;
    }
    return end - pos;
}

ustring decode(std::string_view utf8, bool escape_invalid) {
    ustring out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        if (const std::size_t run = ascii_run(utf8, pos); run > 0) {
            out.append(utf8.begin() + static_cast<std::ptrdiff_t>(pos),
                       utf8.begin() + static_cast<std::ptrdiff_t>(pos + run));
            pos += run;
            continue;
        }
        char32_t cp = 0;
        const std::size_t length = decode_utf8(utf8, pos, cp);
        if (length != 0) {
            append_utf16(out, cp);
            pos += length;
            continue;
        }
        const auto bad = static_cast<unsigned char>(utf8[pos]);
        if (!escape_invalid) {
            throw conversion_error("invalid UTF-8: byte " + hex_byte(bad) + " at offset " +
                                       std::to_string(pos) +
                                       " does not start a valid, complete sequence",
                                   pos);
        }
        out.push_back(static_cast<char16_t>(escape_base + bad));
        ++pos;
    }
    return out;
}

std::string encode(std::u16string_view text, bool unescape) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        if (const std::size_t run = ascii_run(text, pos); run > 0) {
            out.append(text.begin() + static_cast<std::ptrdiff_t>(pos),
                       text.begin() + static_cast<std::ptrdiff_t>(pos + run));
            pos += run - 1;
            continue;
        }
        const char16_t unit = text[pos];
        if (is_high_surrogate(unit) && pos + 1 < text.size() && is_low_surrogate(text[pos + 1])) {
            const char32_t cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                                (static_cast<char32_t>(text[pos + 1]) - 0xDC00);
            append_utf8(out, cp);
            ++pos;
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            if (unescape && unit >= escape_base + 0x80 && unit <= escape_base + 0xFF) {
                out.push_back(static_cast<char>(unit - escape_base));
                continue;
            }
            throw conversion_error("invalid UTF-16: unpaired surrogate " + hex_unit(unit) +
                                       " at offset " + std::to_string(pos),
                                   pos);
        } else {
            append_utf8(out, unit);
        }
    }
    return out;
}

} // namespace

ustring utf8_to_ustring(std::string_view utf8) {
    return decode(utf8, false);
}

std::string ustring_to_utf8(std::u16string_view text) {
    return encode(text, false);
}

namespace detail {

ustring bytes_to_ustring_escaped(std::string_view bytes) {
    return decode(bytes, true);
}

std::string ustring_to_bytes_escaped(std::u16string_view text) {
    return encode(text, true);
}

} // namespace detail

} // namespace fl::i18n
