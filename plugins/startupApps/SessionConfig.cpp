// SPDX-License-Identifier: LGPL-2.1-or-later
#include "SessionConfig.h"

#include <climits>
#include <memory>

#include "gnome2/gnome-config.h"

namespace vesk::legacy::plugins::startup {

namespace {

struct GFree {
    void operator()(gchar* text) const { g_free(text); }
};
using GString = std::unique_ptr<gchar, GFree>;

}  // namespace

bool readConfigString(const std::string& path, std::string& value) {
    GString text(gnome_config_get_string_with_default_(path.c_str(), nullptr, FALSE));
    if (!text) {
        return false;
    }
    value = text.get();
    return true;
}

std::vector<std::string> sectionKeys(const std::string& prefix) {
    std::vector<std::string> keys;
    void* iterator = gnome_config_init_iterator_(prefix.c_str(), FALSE);
    gchar* key = nullptr;
    gchar* value = nullptr;
    while ((iterator = gnome_config_iterator_next(iterator, &key, &value)) != nullptr) {
        GString ownedKey(key);
        GString ownedValue(value);
        try {
            keys.emplace_back(key);
        } catch (...) {
            gnome_config_iterator_free(iterator);
            throw;
        }
    }
    return keys;
}

bool splitNumberedKey(const std::string& key, int& number, std::string& suffix) {
    const std::string::size_type comma = key.find(',');
    if (comma == 0 || comma == std::string::npos || (key[0] == '0' && comma > 1)) {
        return false;
    }
    long long value = 0;
    for (std::string::size_type i = 0; i < comma; ++i) {
        if (key[i] < '0' || key[i] > '9') {
            return false;
        }
        value = value * 10 + (key[i] - '0');
        if (value > INT_MAX) {
            return false;
        }
    }
    number = static_cast<int>(value);
    suffix = key.substr(comma);
    return true;
}

}  // namespace vesk::legacy::plugins::startup
