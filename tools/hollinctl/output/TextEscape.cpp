#include "TextEscape.h"

#include <cstdio>

namespace vesk::legacy::hollinctl {

namespace {

bool isContinuation(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF) {
    return byte >= low && byte <= high;
}

void appendByteEscape(std::string& out, unsigned char byte) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\x%02x", byte);
    out += buffer;
}

void appendEscaped(std::string& out, const std::string& text, bool quote) {
    for (size_t pos = 0; pos < text.size();) {
        std::uint32_t c;
        const size_t length = decodeUtf8(text, pos, c);
        if (length == 0) {
            appendByteEscape(out, static_cast<unsigned char>(text[pos]));
            ++pos;
            continue;
        }
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) {
            for (size_t i = 0; i < length; ++i) {
                appendByteEscape(out, static_cast<unsigned char>(text[pos + i]));
            }
        } else if (isInvisibleControl(c)) {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "\\u{%04X}", static_cast<unsigned>(c));
            out += buffer;
        } else if (quote && (c == '"' || c == '\\')) {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            out.append(text, pos, length);
        }
        pos += length;
    }
}

}  // namespace

bool isInvisibleControl(std::uint32_t c) {
    return (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

size_t decodeUtf8(const std::string& text, size_t pos, std::uint32_t& codePoint) {
    const size_t left = text.size() - pos;
    auto at = [&](size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        if (left < 2 || !isContinuation(at(1))) {
            return 0;
        }
        codePoint = ((lead & 0x1Fu) << 6) | (at(1) & 0x3Fu);
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        // E0 needs A0..BF next (no overlong form), ED needs 80..9F (no surrogates).
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        if (left < 3 || !isContinuation(at(1), low, high) || !isContinuation(at(2))) {
            return 0;
        }
        codePoint = ((lead & 0x0Fu) << 12) | ((at(1) & 0x3Fu) << 6) | (at(2) & 0x3Fu);
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        // F0 needs 90..BF next (no overlong form), F4 needs 80..8F (at most U+10FFFF).
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        if (left < 4 || !isContinuation(at(1), low, high) || !isContinuation(at(2)) ||
            !isContinuation(at(3))) {
            return 0;
        }
        codePoint = ((lead & 0x07u) << 18) | ((at(1) & 0x3Fu) << 12) | ((at(2) & 0x3Fu) << 6) |
                    (at(3) & 0x3Fu);
        return 4;
    }
    return 0;
}

std::string printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    appendEscaped(out, text, false);
    return out;
}

std::string quotedText(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    appendEscaped(out, text, true);
    out += '"';
    return out;
}

size_t displayWidth(const std::string& text) {
    size_t width = 0;
    for (char c : text) {
        width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return width;
}

}  // namespace vesk::legacy::hollinctl
