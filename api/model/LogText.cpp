// SPDX-License-Identifier: LGPL-2.1-or-later
#include "model/LogText.h"

#include "model/Utf8.h"

namespace vesk::legacy {

namespace {

void escapeByte(std::string& out, unsigned char c) {
    static const char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xf];
}

// C1 controls, U+2028/U+2029 and the bidirectional embeddings, overrides
// and isolates.
bool isInvisibleControl(const std::string& text, size_t i, size_t length) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
    if (length == 2) {
        return byte(0) == 0xc2 && byte(1) < 0xa0;
    }
    if (length == 3 && byte(0) == 0xe2) {
        return (byte(1) == 0x80 && byte(2) >= 0xa8 && byte(2) <= 0xae) ||
               (byte(1) == 0x81 && byte(2) >= 0xa6 && byte(2) <= 0xa9);
    }
    return false;
}

}  // namespace

std::string logText(const std::string& text) {
    size_t end = text.size();
    if (end > 0 && text[end - 1] == '\n') {
        --end;
    }
    std::string out;
    out.reserve(end);
    for (size_t i = 0; i < end;) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7f || c == '\\') {
                escapeByte(out, c);
            } else {
                out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        std::uint32_t codePoint;
        const size_t length = utf8::decode(text, i, end, codePoint);
        if (length == 0 || isInvisibleControl(text, i, length)) {
            for (size_t k = 0; k < (length == 0 ? 1 : length); ++k) {
                escapeByte(out, static_cast<unsigned char>(text[i + k]));
            }
            i += length == 0 ? 1 : length;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

}  // namespace vesk::legacy
