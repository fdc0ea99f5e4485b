#include "output/XmlText.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vesk::legacy {

namespace {

// Length of the UTF-8 sequence starting at text[pos] and its code point, or 0
// for a malformed, overlong or surrogate sequence.
size_t decode(const std::string& text, size_t pos, uint32_t& codePoint) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    size_t length;
    uint32_t minimum;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        minimum = 0x80;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        minimum = 0x800;
        codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        minimum = 0x10000;
        codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (pos + length > text.size()) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return 0;
    }
    return length;
}

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
        const size_t length = decode(text, pos, codePoint);
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
            static_cast<unsigned char>(c) >= 0x80 ? decode(text, pos, codePoint) : 0;
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
