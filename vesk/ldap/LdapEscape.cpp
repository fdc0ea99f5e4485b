#include "LdapEscape.h"

#include <cstring>

namespace vesk::legacy::store {

namespace {

const char kHexDigits[] = "0123456789abcdef";

void appendHex(std::string& out, unsigned char byte) {
    out += '\\';
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0f];
}

bool isControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7f;
}

}  // namespace

std::string LdapEscape::dnValue(const std::string& value) {
    std::string out;
    out.reserve(value.size() + 8);
    for (size_t i = 0; i < value.size(); ++i) {
        const auto byte = static_cast<unsigned char>(value[i]);
        const bool edgeSpace = byte == ' ' && (i == 0 || i + 1 == value.size());
        if (isControl(byte)) {
            // NUL and the other controls as hex pairs, which every parser reads back.
            appendHex(out, byte);
        } else if (std::strchr("\"+,;<>\\=", byte) != nullptr || edgeSpace ||
                   (byte == '#' && i == 0)) {
            out += '\\';
            out += static_cast<char>(byte);
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

std::string LdapEscape::filterValue(const std::string& value) {
    std::string out;
    out.reserve(value.size() + 8);
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::strchr("*()\\", byte) != nullptr || isControl(byte)) {
            appendHex(out, byte);
        } else {
            out += c;
        }
    }
    return out;
}

bool LdapEscape::isValidUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        unsigned int point = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xe0) == 0xc0) {
            length = 2;
            point = lead & 0x1f;
        } else if ((lead & 0xf0) == 0xe0) {
            length = 3;
            point = lead & 0x0f;
        } else if ((lead & 0xf8) == 0xf0) {
            length = 4;
            point = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80) {
                return false;
            }
            point = (point << 6) | (next & 0x3f);
        }
        // Overlong forms, surrogates and points beyond Unicode are not UTF-8.
        static const unsigned int kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < kSmallest[length] || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff)) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace vesk::legacy::store
