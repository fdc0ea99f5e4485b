// SPDX-License-Identifier: LGPL-2.1-or-later
#include "JsonWriter.h"

#include <cstdint>
#include <cstdio>

#include "TextEscape.h"
#include "model/PropertyNode.h"

namespace vesk::legacy::hollinctl {

namespace {

void appendUnicodeEscape(std::string& out, std::uint32_t c) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
    out += buffer;
}

}  // namespace

void JsonWriter::appendString(std::string& out, const std::string& text) {
    out += '"';
    for (size_t pos = 0; pos < text.size();) {
        std::uint32_t c;
        const size_t length = decodeUtf8(text, pos, c);
        if (length == 0) {
            out += "\\ufffd";
            ++pos;
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                // DEL, C1 controls (U+009B starts a terminal command) and the
                // invisible direction and line controls are valid JSON, but
                // steer terminals and JavaScript readers of the output.
                if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || isInvisibleControl(c)) {
                    appendUnicodeEscape(out, c);
                } else {
                    out.append(text, pos, length);
                }
        }
        pos += length;
    }
    out += '"';
}

void JsonWriter::separate() {
    if (mAfterKey) {
        mAfterKey = false;
        return;
    }
    if (!mEmpty.empty()) {
        if (!mEmpty.back()) {
            mText += ',';
        }
        mEmpty.back() = false;
    }
}

void JsonWriter::open(char bracket) {
    separate();
    mText += bracket;
    mEmpty.push_back(true);
}

void JsonWriter::close(char bracket) {
    mText += bracket;
    if (!mEmpty.empty()) {
        mEmpty.pop_back();
    }
}

JsonWriter& JsonWriter::beginObject() {
    open('{');
    return *this;
}

JsonWriter& JsonWriter::endObject() {
    close('}');
    return *this;
}

JsonWriter& JsonWriter::beginArray() {
    open('[');
    return *this;
}

JsonWriter& JsonWriter::endArray() {
    close(']');
    return *this;
}

JsonWriter& JsonWriter::key(const std::string& name) {
    separate();
    appendString(mText, name);
    mText += ':';
    mAfterKey = true;
    return *this;
}

JsonWriter& JsonWriter::string(const std::string& text) {
    separate();
    appendString(mText, text);
    return *this;
}

JsonWriter& JsonWriter::number(long long value) {
    separate();
    mText += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
    separate();
    mText += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::null() {
    separate();
    mText += "null";
    return *this;
}

JsonWriter& JsonWriter::value(const PropertyNode& property, const std::string& locale) {
    if (!property.isList()) {
        return string(property.getStringValue(locale));
    }
    beginArray();
    for (const std::string& item : property.getListValue(locale)) {
        string(item);
    }
    return endArray();
}

}  // namespace vesk::legacy::hollinctl
