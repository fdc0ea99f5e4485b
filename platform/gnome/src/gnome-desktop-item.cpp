// SPDX-License-Identifier: LGPL-2.1-or-later
// Desktop items on GLib key files, checked against the Desktop Entry format
// before anything reaches the key file: GLib itself would take "Foo\nExec" as a
// key name and write a new Exec line.
#include "gnome2/gnome-desktop-item.h"

#include <stdarg.h>
#include <string.h>

#include <memory>
#include <string>

#include "gnome2-io.h"

namespace {

const char* const kGroup = "Desktop Entry";
// Launchers are executable: the desktop trusts an executable launcher it finds.
const mode_t kNewFileMode = 0755;

struct KeyFileFree {
    void operator()(GKeyFile* keys) const { g_key_file_free(keys); }
};

void warn(const char* format, ...) G_GNUC_PRINTF(1, 2);
void warn(const char* format, ...) {
    va_list args;
    va_start(args, format);
    g_logv(GNOME_DESKTOP_ITEM_LOG_DOMAIN, G_LOG_LEVEL_WARNING, format, args);
    va_end(args);
}

std::string shown(const char* text) {
    if (text == nullptr) {
        return "(null)";
    }
    gchar* escaped = g_strescape(text, nullptr);
    std::string result = escaped;
    g_free(escaped);
    return result;
}

bool allOf(const std::string& text, const char* extra) {
    for (char c : text) {
        if (!g_ascii_isalnum(c) && strchr(extra, c) == nullptr) {
            return false;
        }
    }
    return !text.empty();
}

bool validKey(const char* key) {
    return key != nullptr && allOf(key, "-");
}

// The layer's locales come as "de-CH" (xml:lang); the format wants "de_CH".
std::string normaliseLocale(std::string locale) {
    const std::string::size_type dash = locale.find('-');
    if (dash != std::string::npos && dash < locale.find_first_of(".@") &&
        locale.find('_') == std::string::npos) {
        locale[dash] = '_';
    }
    return locale;
}

// lang[_COUNTRY][.ENCODING][@MODIFIER]
bool validLocale(const std::string& locale) {
    std::string rest = locale;
    std::string modifier;
    std::string encoding;
    std::string country;
    std::string::size_type at = rest.find('@');
    if (at != std::string::npos) {
        modifier = rest.substr(at + 1);
        rest.erase(at);
        if (!allOf(modifier, "")) {
            return false;
        }
    }
    std::string::size_type dot = rest.find('.');
    if (dot != std::string::npos) {
        encoding = rest.substr(dot + 1);
        rest.erase(dot);
        if (!allOf(encoding, "-_")) {
            return false;
        }
    }
    std::string::size_type underscore = rest.find('_');
    if (underscore != std::string::npos) {
        country = rest.substr(underscore + 1);
        rest.erase(underscore);
        if (!allOf(country, "")) {
            return false;
        }
    }
    for (char c : rest) {
        if (!g_ascii_isalpha(c)) {
            return false;
        }
    }
    return !rest.empty();
}

}  // namespace

struct GnomeDesktopItem {
    gint refCount = 1;
    std::unique_ptr<GKeyFile, KeyFileFree> keys{g_key_file_new()};
    std::string location;  // where it was last saved
    bool modified = false;
};

namespace {

bool usable(const GnomeDesktopItem* item, const char* attr, const char* what) {
    if (item == nullptr) {
        warn("%s: no desktop item for key \"%s\"", what, shown(attr).c_str());
        return false;
    }
    if (!validKey(attr)) {
        warn("%s: refusing key \"%s\": a desktop entry key holds only A-Z, a-z, 0-9 and \"-\"",
             what, shown(attr).c_str());
        return false;
    }
    return true;
}

bool validValue(const char* attr, const char* value) {
    if (!g_utf8_validate(value, -1, nullptr)) {
        warn("Refusing the value of desktop entry key \"%s\": not UTF-8", shown(attr).c_str());
        return false;
    }
    // The format has escapes only for the blank, tab, line feed and carriage
    // return, and validators refuse any other control character in a value.
    for (const char* p = value; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f) {
            warn(
                "Refusing the value of desktop entry key \"%s\": it holds a control character, "
                "which the format cannot carry",
                shown(attr).c_str());
            return false;
        }
    }
    return true;
}

// Readers refuse the whole file when its Encoding key says anything but UTF-8.
bool validEncoding(const char* attr, const char* value) {
    if (strcmp(attr, "Encoding") != 0 || g_ascii_strcasecmp(value, "UTF-8") == 0) {
        return true;
    }
    warn("Refusing the value of desktop entry key \"Encoding\": only UTF-8 can be read back");
    return false;
}

// Stores the escaped text as attr, or attr[locale] when locale is not empty.
void storeValue(GnomeDesktopItem* item, const char* attr, const std::string& locale,
                const std::string& escaped) {
    const std::string key = locale.empty() ? attr : std::string(attr) + "[" + locale + "]";
    g_key_file_set_value(item->keys.get(), kGroup, key.c_str(), escaped.c_str());
    item->modified = true;
}

// The locale of a language argument ("" for the plain key), or false after a
// warning when it is not one.
bool localeOf(const char* language, const char* attr, std::string& locale) {
    locale.clear();
    if (language == nullptr || language[0] == '\0' || strcmp(language, "default") == 0) {
        return true;
    }
    locale = normaliseLocale(language);
    if (validLocale(locale)) {
        return true;
    }
    warn(
        "Refusing locale \"%s\" of desktop entry key \"%s\": not of the form "
        "lang[_COUNTRY][.ENCODING][@MODIFIER]",
        shown(language).c_str(), shown(attr).c_str());
    return false;
}

}  // namespace

extern "C" {

GQuark gnome_desktop_item_error_quark(void) {
    return g_quark_from_static_string("gnome-desktop-item-error-quark");
}

GnomeDesktopItem* gnome_desktop_item_new(void) {
    auto* item = new GnomeDesktopItem;
    // A key file has no call to add an empty group; an item saved without keys
    // is still a Desktop Entry file.
    const char header[] = "[Desktop Entry]\n";
    g_key_file_load_from_data(item->keys.get(), header, sizeof header - 1, G_KEY_FILE_NONE,
                              nullptr);
    return item;
}

GnomeDesktopItem* gnome_desktop_item_ref(GnomeDesktopItem* item) {
    if (item != nullptr) {
        g_atomic_int_inc(&item->refCount);
    }
    return item;
}

void gnome_desktop_item_unref(GnomeDesktopItem* item) {
    if (item != nullptr && g_atomic_int_dec_and_test(&item->refCount)) {
        delete item;
    }
}

void gnome_desktop_item_set_string(GnomeDesktopItem* item, const char* attr, const char* value) {
    if (!usable(item, attr, "gnome_desktop_item_set_string")) {
        return;
    }
    if (value == nullptr) {
        g_key_file_remove_key(item->keys.get(), kGroup, attr, nullptr);
        item->modified = true;
    } else if (validValue(attr, value) && validEncoding(attr, value)) {
        storeValue(item, attr, "", gnome2_escape_value(value, false));
    }
}

void gnome_desktop_item_set_localestring_lang(GnomeDesktopItem* item, const char* attr,
                                              const char* language, const char* value) {
    std::string locale;
    if (!localeOf(language, attr, locale)) {
        return;
    }
    if (locale.empty()) {
        gnome_desktop_item_set_string(item, attr, value);
        return;
    }
    if (!usable(item, attr, "gnome_desktop_item_set_localestring_lang")) {
        return;
    }
    if (value == nullptr) {
        const std::string key = std::string(attr) + "[" + locale + "]";
        g_key_file_remove_key(item->keys.get(), kGroup, key.c_str(), nullptr);
        item->modified = true;
    } else if (validValue(attr, value)) {
        storeValue(item, attr, locale, gnome2_escape_value(value, false));
    }
}

void gnome_desktop_item_set_strings(GnomeDesktopItem* item, const char* attr,
                                    const char* const* strings) {
    gnome_desktop_item_set_localestrings_lang(item, attr, nullptr, strings);
}

void gnome_desktop_item_set_localestrings_lang(GnomeDesktopItem* item, const char* attr,
                                               const char* language, const char* const* strings) {
    std::string locale;
    if (!usable(item, attr, "gnome_desktop_item_set_localestrings_lang") ||
        !localeOf(language, attr, locale)) {
        return;
    }
    if (strings == nullptr) {
        const std::string key = locale.empty() ? attr : std::string(attr) + "[" + locale + "]";
        g_key_file_remove_key(item->keys.get(), kGroup, key.c_str(), nullptr);
        item->modified = true;
        return;
    }
    std::string value;
    for (const char* const* string = strings; *string != nullptr; ++string) {
        if (!validValue(attr, *string)) {
            return;
        }
        value += gnome2_escape_value(*string, true) + ";";
    }
    storeValue(item, attr, locale, value);
}

gboolean gnome_desktop_item_save(GnomeDesktopItem* item, const char* under, gboolean force,
                                 GError** error) {
    if (item == nullptr) {
        g_set_error_literal(error, GNOME_DESKTOP_ITEM_ERROR, GNOME_DESKTOP_ITEM_ERROR_INVALID_ITEM,
                            "No desktop item to save");
        return FALSE;
    }
    const std::string path = under != nullptr ? under : item->location;
    if (path.empty()) {
        g_set_error_literal(error, GNOME_DESKTOP_ITEM_ERROR, GNOME_DESKTOP_ITEM_ERROR_NO_FILENAME,
                            "No file name to save the desktop item to");
        return FALSE;
    }
    if (!force && !item->modified && path == item->location) {
        return TRUE;
    }
    gsize length = 0;
    gchar* data = g_key_file_to_data(item->keys.get(), &length, nullptr);
    const gboolean saved =
        gnome2_replace_file(path.c_str(), data, length, kNewFileMode, FALSE, error);
    g_free(data);
    if (saved) {
        item->location = path;
        item->modified = false;
    }
    return saved;
}
}
