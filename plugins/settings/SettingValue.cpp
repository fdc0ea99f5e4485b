// SPDX-License-Identifier: LGPL-2.1-or-later
#include "SettingValue.h"

#include <glib.h>

#include <vector>

#include "model/PropertyNode.h"

namespace vesk::legacy::settings {

namespace {

const char* const kOwnTypes[] = {"b", "n", "i", "x", "d", "s", "ay"};

// Hex digits to bytes; false for an odd count or another character.
bool decodeHex(const std::string& text, std::string& bytes) {
    if (text.size() % 2 != 0) {
        return false;
    }
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = g_ascii_xdigit_value(text[i]);
        const int low = g_ascii_xdigit_value(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return true;
}

// One policy text as a value of the type: strings as they are, everything
// else through the GVariant text format, which checks the number's range.
GVariant* convertText(const std::string& text, PropertyType scalar, const GVariantType* type,
                      std::string& reason) {
    if (g_variant_type_equal(type, G_VARIANT_TYPE_STRING) && scalar == TypeString) {
        if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
            reason = "the text is not UTF-8";
            return nullptr;
        }
        return g_variant_ref_sink(g_variant_new_string(text.c_str()));
    }
    if (g_variant_type_equal(type, G_VARIANT_TYPE_BYTESTRING) && scalar == TypeHexBinary) {
        std::string bytes;
        if (!decodeHex(text, bytes)) {
            reason = "\"" + text + "\" is not hexadecimal";
            return nullptr;
        }
        return g_variant_ref_sink(
            g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes.data(), bytes.size(), 1));
    }
    std::string source = text;
    if (scalar == TypeBoolean) {
        source = source == "1" ? "true" : source == "0" ? "false" : source;
    }
    if (text.find('\0') != std::string::npos) {
        reason = "the text holds a NUL byte";
        return nullptr;
    }
    GError* error = nullptr;
    GVariant* value = g_variant_parse(type, source.c_str(), nullptr, nullptr, &error);
    if (value == nullptr) {
        gchar* typeText = g_variant_type_dup_string(type);
        reason = "\"" + text + "\" is no " + typeText + " (" + error->message + ")";
        g_free(typeText);
        g_error_free(error);
        return nullptr;
    }
    return g_variant_ref_sink(value);
}

PropertyType scalarOf(PropertyType type) {
    return isListType(type) ? static_cast<PropertyType>(type - TypeBooleanList) : type;
}

}  // namespace

SettingValue::SettingValue(GVariant* value) : mValue(value) {}

SettingValue::~SettingValue() {
    if (mValue != nullptr) {
        g_variant_unref(mValue);
    }
}

SettingValue::SettingValue(SettingValue&& other) noexcept : mValue(other.mValue) {
    other.mValue = nullptr;
}

SettingValue& SettingValue::operator=(SettingValue&& other) noexcept {
    std::swap(mValue, other.mValue);
    return *this;
}

std::string SettingValue::ownType(const PropertyNode& property) {
    const PropertyType scalar = scalarOf(property.getType());
    if (scalar < TypeBoolean || scalar > TypeHexBinary) {
        return "";
    }
    return std::string(property.isList() ? "a" : "") + kOwnTypes[scalar];
}

SettingValue SettingValue::convert(const PropertyNode& property, const char* schemaType,
                                   std::string& reason) {
    const std::string typeText =
        schemaType != nullptr && *schemaType != '\0' ? schemaType : ownType(property);
    if (typeText.empty() || !g_variant_type_string_is_valid(typeText.c_str())) {
        reason = "the property has no type dconf can store";
        return SettingValue();
    }
    GVariantType* type = g_variant_type_new(typeText.c_str());
    const PropertyType scalar = scalarOf(property.getType());
    GVariant* value = nullptr;
    if (!property.isList()) {
        value = convertText(property.getStringValue("default"), scalar, type, reason);
    } else if (!g_variant_type_is_array(type)) {
        reason = "a list cannot be stored in a key of type " + typeText;
    } else {
        const GVariantType* element = g_variant_type_element(type);
        GVariantBuilder builder;
        g_variant_builder_init(&builder, type);
        bool converted = true;
        for (const std::string& item : property.getListValue("default")) {
            GVariant* one = convertText(item, scalar, element, reason);
            if (one == nullptr) {
                converted = false;
                break;
            }
            g_variant_builder_add_value(&builder, one);
            g_variant_unref(one);
        }
        GVariant* built = g_variant_builder_end(&builder);
        value = converted ? g_variant_ref_sink(built) : nullptr;
        if (!converted) {
            g_variant_unref(g_variant_ref_sink(built));
        }
    }
    g_variant_type_free(type);
    return SettingValue(value);
}

std::string SettingValue::text() const {
    gchar* printed = g_variant_print(mValue, TRUE);
    std::string text = printed;
    g_free(printed);
    return text;
}

}  // namespace vesk::legacy::settings
