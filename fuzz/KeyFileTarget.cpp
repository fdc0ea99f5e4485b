// SPDX-License-Identifier: LGPL-2.1-or-later
// The key-file layer on untrusted text: the input's fields, separated by NUL
// bytes, are a section and then up to four key and value pairs. They go through
// gnome_config (as "fuzz/<section>/<key>" in $HOME/.gnome2) and through a desktop
// item (each key set as a plain or, with the section text as language, a
// localised string, and the values once more as one list), and the files
// written are parsed back with GLib.
//
// Findings: a write accepted in memory that reads back differently; a refused
// write that sync does not report, or a failed sync without one; a written file
// that GLib cannot load; a key in it that was not set, a key set that is not in
// it, or a value that reads back differently, with GLib's own unescaping and
// with gnome_config's after the cache is dropped; a desktop key outside
// [A-Za-z0-9-] accepted; a list that does not read back item for item; a GLib
// critical (a call GLib refused).
#include <glib.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FuzzInput.h"
#include "FuzzTargets.h"
#include "ScratchDirectory.h"
#include "TreeChecks.h"
#include "gnome2/gnome-config.h"
#include "gnome2/gnome-desktop-item.h"

namespace vesk::legacy::fuzz {

namespace {

constexpr size_t kMaxPairs = 4;
constexpr char kConfigFile[] = "fuzz";
constexpr char kDesktopGroup[] = "Desktop Entry";
constexpr char kListKey[] = "Keywords";

int sWarnings = 0;  // refusals logged by the stand-in

void countWarning(const gchar*, GLogLevelFlags, const gchar*, gpointer) {
    ++sWarnings;
}

// A critical of GLib is a call it refused, so something the stand-in let
// through; an abort keeps the input, where GLib's own fatal trap would not.
void failOnCritical(const gchar* domain, GLogLevelFlags level, const gchar* message,
                    gpointer data) {
    if (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL)) {
        finding(std::string("GLib ") + (domain ? domain : "") + ": " + message);
    }
    g_log_default_handler(domain, level, message, data);
}

const std::string& home() {
    static const std::string sHome = [] {
        const std::string path = ScratchDirectory::path() + "/home";
        ::mkdir(path.c_str(), 0700);
        setenv("HOME", path.c_str(), 1);
        g_log_set_handler(GNOME_CONFIG_LOG_DOMAIN, G_LOG_LEVEL_MASK, countWarning, nullptr);
        g_log_set_handler(GNOME_DESKTOP_ITEM_LOG_DOMAIN, G_LOG_LEVEL_MASK, countWarning, nullptr);
        g_log_set_default_handler(failOnCritical, nullptr);
        return path;
    }();
    return sHome;
}

std::string shown(const std::string& text) {
    gchar* escaped = g_strescape(text.c_str(), nullptr);
    std::string result = std::string("\"") + escaped + "\"";
    g_free(escaped);
    return result;
}

struct KeyFileFree {
    void operator()(GKeyFile* keys) const { g_key_file_free(keys); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileFree>;

// The file as GLib loads it, or null when it does not exist.
KeyFile loadWithGlib(const std::string& file) {
    if (::access(file.c_str(), F_OK) != 0) {
        return nullptr;
    }
    KeyFile keys(g_key_file_new());
    GError* error = nullptr;
    if (!g_key_file_load_from_file(
            keys.get(), file.c_str(),
            static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
            &error)) {
        const std::string message = error->message;
        g_error_free(error);
        finding("GLib cannot load the written file " + file + ": " + message);
    }
    return keys;
}

// gnome_config's escapes as documented: "\\", "\n", "\r", "\t" anywhere, and
// at the start "\s", "\v" or "\f" for a leading blank, vertical tab or form
// feed. Anything else after a backslash was never written by it.
std::string unescapeStrictly(const std::string& raw) {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            out += raw[i];
            continue;
        }
        const char next = i + 1 < raw.size() ? raw[++i] : '\0';
        switch (next) {
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 's':
            case 'v':
            case 'f':
                if (i == 1) {
                    out += next == 's' ? ' ' : next == 'v' ? '\v' : '\f';
                    break;
                }
                [[fallthrough]];
            default:
                finding("written value " + shown(raw) + " holds an escape never written");
        }
    }
    return out;
}

using SectionKey = std::pair<std::string, std::string>;
using Expected = std::map<SectionKey, std::string>;

// Who escaped the values: gnome_config (its own escapes, undone strictly here;
// GLib has none for a leading vertical tab or form feed) or GLib itself.
enum class Escapes { GnomeConfig, Glib };

// Every group and key of the file must be expected, with the expected value.
void compareFile(GKeyFile* keys, const Expected& expected, Escapes escapes,
                 const std::string& what) {
    size_t found = 0;
    gchar** groups = g_key_file_get_groups(keys, nullptr);
    for (gchar** group = groups; *group; ++group) {
        gchar** names = g_key_file_get_keys(keys, *group, nullptr, nullptr);
        for (gchar** name = names; name && *name; ++name) {
            const auto wanted = expected.find({*group, *name});
            if (wanted == expected.end()) {
                finding(what + ": key " + shown(*name) + " in section " + shown(*group) +
                        " was never set");
            }
            ++found;
            const char first = wanted->second.empty() ? '\0' : wanted->second[0];
            bool glibCanRead = g_utf8_validate(wanted->second.c_str(), -1, nullptr);
            if (escapes == Escapes::GnomeConfig) {
                gchar* raw = g_key_file_get_value(keys, *group, *name, nullptr);
                const std::string value = unescapeStrictly(raw);
                g_free(raw);
                if (value != wanted->second) {
                    finding(what + ": key " + shown(*name) + " reads back as " + shown(value) +
                            ", set as " + shown(wanted->second));
                }
                glibCanRead = glibCanRead && first != '\v' && first != '\f';
            }
            if (glibCanRead) {
                GError* error = nullptr;
                gchar* text = g_key_file_get_string(keys, *group, *name, &error);
                if (!text) {
                    const std::string message = error->message;
                    g_error_free(error);
                    finding(what + ": GLib cannot read key " + shown(*name) + ": " + message);
                }
                const std::string read = text;
                g_free(text);
                if (read != wanted->second) {
                    finding(what + ": GLib reads key " + shown(*name) + " as " + shown(read) +
                            ", set as " + shown(wanted->second));
                }
            }
        }
        g_strfreev(names);
    }
    g_strfreev(groups);
    if (found != expected.size()) {
        finding(what + ": " + std::to_string(expected.size()) + " keys set, " +
                std::to_string(found) + " in the file");
    }
}

void fuzzConfig(const std::vector<std::string>& fields) {
    const std::string file = home() + "/.gnome2/" + kConfigFile;
    ::unlink(file.c_str());
    gnome_config_drop_all();

    Expected expected;
    std::vector<std::pair<std::string, SectionKey>> accepted;  // path and where it went
    bool refused = false;
    for (size_t i = 1; i + 1 < fields.size(); i += 2) {
        const std::string rest = fields[0] + "/" + fields[i];
        const std::string path = std::string(kConfigFile) + "/" + rest;
        const std::string& value = fields[i + 1];
        gnome_config_set_string_(path.c_str(), value.c_str(), FALSE);
        gboolean missing = TRUE;
        gchar* got = gnome_config_get_string_with_default_(path.c_str(), &missing, FALSE);
        if (!got) {
            refused = true;
            continue;
        }
        const std::string read = got;
        g_free(got);
        if (missing || read != value) {
            finding("gnome_config reads " + shown(path) + " as " + shown(read) + ", set as " +
                    shown(value));
        }
        const size_t slash = rest.find('/');
        const SectionKey where{rest.substr(0, slash), rest.substr(slash + 1)};
        expected[where] = value;
        accepted.emplace_back(path, where);
    }
    const bool synced = gnome_config_sync();
    if (refused && synced) {
        finding("a refused write was not reported by gnome_config_sync");
    }
    const KeyFile keys = loadWithGlib(file);
    if (!keys) {
        // Right when nothing was accepted, or when sync said it failed: it
        // writes no file that GLib could not load again (an Encoding key).
        if (!expected.empty() && synced) {
            finding("gnome_config_sync reported success but wrote no file");
        }
        return;
    }
    if (!refused && !synced) {
        finding("gnome_config_sync reported a failure but wrote the file");
    }
    compareFile(keys.get(), expected, Escapes::GnomeConfig, "session file");

    // And through gnome_config's own reading of the file.
    gnome_config_drop_all();
    for (const auto& [path, where] : accepted) {
        gchar* got = gnome_config_get_string_with_default_(path.c_str(), nullptr, FALSE);
        const bool same = got && got == expected.at(where);
        const std::string read = got ? shown(got) : "missing";
        g_free(got);
        if (!same) {
            finding("gnome_config reads " + shown(path) + " from disk as " + read + ", set as " +
                    shown(expected.at(where)));
        }
    }
}

// "de-CH" is stored as "de_CH", as the desktop item documents.
std::string storedLocale(std::string locale) {
    const size_t dash = locale.find('-');
    if (dash != std::string::npos && dash < locale.find_first_of(".@") &&
        locale.find('_') == std::string::npos) {
        locale[dash] = '_';
    }
    return locale;
}

bool isDesktopKey(const std::string& key) {
    if (key.empty()) {
        return false;
    }
    for (const char c : key) {
        if (!g_ascii_isalnum(c) && c != '-') {
            return false;
        }
    }
    return true;
}

void fuzzDesktopItem(const std::vector<std::string>& fields) {
    const std::string file = ScratchDirectory::path() + "/MERXfuzz.desktop";
    const std::string& language = fields[0];
    const bool plainLanguage = language.empty() || language == "default";

    GnomeDesktopItem* item = gnome_desktop_item_new();
    Expected expected;
    for (size_t i = 1; i + 1 < fields.size(); i += 2) {
        const std::string& attr = fields[i];
        const std::string& value = fields[i + 1];
        const bool localised = (i / 2) % 2 == 0;
        const int before = sWarnings;
        if (localised) {
            gnome_desktop_item_set_localestring_lang(item, attr.c_str(), language.c_str(),
                                                     value.c_str());
        } else {
            gnome_desktop_item_set_string(item, attr.c_str(), value.c_str());
        }
        if (sWarnings != before) {
            continue;  // refused, and said so
        }
        if (!isDesktopKey(attr)) {
            finding("desktop item accepted the key " + shown(attr));
        }
        const std::string key =
            localised && !plainLanguage ? attr + "[" + storedLocale(language) + "]" : attr;
        expected[{kDesktopGroup, key}] = value;
    }
    // The values once more as one list, item for item: a ";", a tab or a
    // leading blank inside an item stays inside it.
    std::vector<std::string> items;
    std::vector<const char*> strings;
    for (size_t i = 2; i < fields.size(); i += 2) {
        items.push_back(fields[i]);
    }
    for (const std::string& text : items) {
        strings.push_back(text.c_str());
    }
    strings.push_back(nullptr);
    const int beforeList = sWarnings;
    if (!items.empty()) {
        gnome_desktop_item_set_strings(item, kListKey, strings.data());
    }
    const bool listSet = !items.empty() && sWarnings == beforeList;
    if (listSet) {
        expected.erase({kDesktopGroup, kListKey});
    }
    GError* error = nullptr;
    const gboolean saved = gnome_desktop_item_save(item, file.c_str(), TRUE, &error);
    gnome_desktop_item_unref(item);
    if (!saved) {
        const std::string message = error->message;
        g_error_free(error);
        finding("desktop item not saved: " + message);
    }
    const KeyFile keys = loadWithGlib(file);
    if (!keys || !g_key_file_has_group(keys.get(), kDesktopGroup)) {
        finding("the saved desktop item has no [Desktop Entry] group");
    }
    if (listSet) {
        gsize length = 0;
        gchar** back =
            g_key_file_get_string_list(keys.get(), kDesktopGroup, kListKey, &length, nullptr);
        if (back == nullptr || std::vector<std::string>(back, back + length) != items) {
            finding("desktop item list does not read back item for item");
        }
        g_strfreev(back);
        g_key_file_remove_key(keys.get(), kDesktopGroup, kListKey, nullptr);
    }
    compareFile(keys.get(), expected, Escapes::Glib, "desktop item");
}

}  // namespace

int fuzzKeyFile(const uint8_t* data, size_t size) {
    home();
    // C strings end at the first NUL, so every NUL separates, and what lies
    // beyond the last field used is dropped (not cut up first).
    constexpr size_t kFields = 1 + 2 * kMaxPairs;
    std::vector<std::string> fields = splitFields(data, size, std::string(1, '\0'), kFields + 1);
    fields.resize(std::min(fields.size(), kFields));
    fuzzConfig(fields);
    fuzzDesktopItem(fields);
    return 0;
}

}  // namespace vesk::legacy::fuzz
