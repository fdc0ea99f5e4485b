#include "model/LogText.h"

namespace vesk::legacy {

namespace {

void escapeByte(std::string& out, unsigned char c) {
    static const char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xf];
}

// The length of the well-formed UTF-8 sequence at text[i] that ends before
// end, 0 when there is none.
size_t sequenceLength(const std::string& text, size_t end, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : 2;
    if (lead < 0xc2 || lead > 0xf4 || i + length > end) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) {
            return 0;
        }
    }
    const unsigned char second = byte(i + 1);
    if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second >= 0xa0) ||
        (lead == 0xf0 && second < 0x90) || (lead == 0xf4 && second >= 0x90)) {
        return 0;  // overlong, surrogate or beyond U+10FFFF
    }
    return length;
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
        const size_t length = sequenceLength(text, end, i);
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
