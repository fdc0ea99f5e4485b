// SPDX-License-Identifier: LGPL-2.1-or-later
#include "TextEscape.h"

#include <cstdio>

#include "model/Utf8.h"

namespace vesk::legacy::hollinctl {

namespace {

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
    return utf8::decode(text, pos, codePoint);
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
