// SPDX-License-Identifier: LGPL-2.1-or-later
// A policy property's value as the GVariant dconf stores: in the type the
// installed schema gives the key, else in the property's own type
// (xs:int is "i", zel:string-list "as", xs:hexBinary "ay", ...).
//
//   std::string reason;
//   SettingValue value = SettingValue::convert(property, "u", reason);
//   if (value) value.text();   // "uint32 300"
#pragma once

#include <string>

typedef struct _GVariant GVariant;

namespace vesk::legacy {
class PropertyNode;
}

namespace vesk::legacy::settings {

class SettingValue {
  public:
    SettingValue() = default;
    ~SettingValue();
    SettingValue(SettingValue&& other) noexcept;
    SettingValue& operator=(SettingValue&& other) noexcept;

    // schemaType null or empty: the property's own type. Empty with the
    // reason set when the value does not convert.
    static SettingValue convert(const PropertyNode& property, const char* schemaType,
                                std::string& reason);
    // The GVariant type a property of that kind is written as without a schema.
    static std::string ownType(const PropertyNode& property);

    explicit operator bool() const { return mValue != nullptr; }
    GVariant* get() const { return mValue; }
    // The value with its type where the text alone would not say it, as
    // dconf's key files take it.
    std::string text() const;

  private:
    explicit SettingValue(GVariant* value);
    GVariant* mValue = nullptr;
};

}  // namespace vesk::legacy::settings
