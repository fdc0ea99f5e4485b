// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LdapEscape.h"

#include <cstring>

#include "model/Utf8.h"

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
    return utf8::isValid(text);
}

}  // namespace vesk::legacy::store
