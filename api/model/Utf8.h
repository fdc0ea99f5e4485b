// SPDX-License-Identifier: LGPL-2.1-or-later
// The project's one UTF-8 decoder, header-only so that every library (libhollin,
// libvesk, the plug-ins, hollinctl) includes the same rules: a sequence is
// well formed only in its shortest form, outside the surrogates and at most
// U+10FFFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vesk::legacy::utf8 {

// The length of the well-formed sequence at text[pos] that ends at or before
// end, with its code point; 0 when there is none (malformed, overlong,
// surrogate, beyond U+10FFFF or cut off by end).
inline size_t decode(const std::string& text, size_t pos, size_t end, std::uint32_t& codePoint) {
    const auto at = [&](size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    size_t length;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07u;
    } else {
        return 0;
    }
    if (end < pos + length) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((at(i) & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (at(i) & 0x3Fu);
    }
    static const std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < kSmallest[length] || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return 0;
    }
    return length;
}

inline size_t decode(const std::string& text, size_t pos, std::uint32_t& codePoint) {
    return decode(text, pos, text.size(), codePoint);
}

// Whether the whole text is well-formed UTF-8.
inline bool isValid(const std::string& text) {
    std::uint32_t codePoint;
    for (size_t pos = 0; pos < text.size();) {
        const size_t length = decode(text, pos, codePoint);
        if (length == 0) {
            return false;
        }
        pos += length;
    }
    return true;
}

}  // namespace vesk::legacy::utf8
