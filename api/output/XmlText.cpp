// SPDX-License-Identifier: LGPL-2.1-or-later
#include "output/XmlText.h"

#include "model/Utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vesk::legacy {

namespace {

bool isXmlChar(uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Allowed in XML, but invisible and able to steer a terminal or reorder the
// text around it: C1 controls, line and paragraph separators, bidirectional
// embeddings, overrides and isolates. Written as references, read back the same.
bool isHiddenControl(uint32_t c) {
    return (c >= 0x80 && c <= 0x9F) || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

bool XmlText::isRepresentable(const std::string& text) {
    for (size_t pos = 0; pos < text.size();) {
        uint32_t codePoint = 0;
        const size_t length = utf8::decode(text, pos, codePoint);
        if (length == 0 || !isXmlChar(codePoint)) {
            return false;
        }
        pos += length;
    }
    return true;
}

bool XmlText::escape(const std::string& text, std::string& out) {
    if (!isRepresentable(text)) {
        return false;
    }
    for (size_t pos = 0; pos < text.size(); ++pos) {
        const char c = text[pos];
        uint32_t codePoint = 0;
        const size_t length =
            static_cast<unsigned char>(c) >= 0x80 ? utf8::decode(text, pos, codePoint) : 0;
        if (length > 0 && isHiddenControl(codePoint)) {
            char reference[16];
            std::snprintf(reference, sizeof reference, "&#x%x;", static_cast<unsigned>(codePoint));
            out += reference;
            pos += length - 1;
            continue;
        }
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            // A literal tab or line break would be folded into a blank in an
            // attribute, and line feeds are dropped when a file is read back.
            case '\t':
                out += "&#9;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                out += c;
        }
    }
    return true;
}

}  // namespace vesk::legacy
