// SPDX-License-Identifier: LGPL-2.1-or-later
// startlist's reading of a hand-edited ~/.gnome2/session-manual: the input is
// the file. It is read as startlist reads it (gnome_config, the numbered keys
// of [Default]), one count is changed and the file written back.
//
// Findings: a file GLib cannot load that is nevertheless written over; keys of
// [Default] that startlist's reading misses, invents or reads differently from
// GLib; after the write, any other key of any section lost or changed, or a
// file GLib cannot load.
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "FuzzTargets.h"
#include "ScratchDirectory.h"
#include "SessionConfig.h"
#include "TreeChecks.h"
#include "gnome2/gnome-config.h"

namespace vesk::legacy::fuzz {

namespace {

using plugins::startup::sectionKeys;
using Raw = std::map<std::pair<std::string, std::string>, std::string>;

const std::string& sessionFile() {
    static const std::string sFile = [] {
        const std::string home = ScratchDirectory::path() + "/home";
        ::mkdir(home.c_str(), 0700);
        ::mkdir((home + "/.gnome2").c_str(), 0700);
        setenv("HOME", home.c_str(), 1);
        g_log_set_handler(
            "GnomeConfig", G_LOG_LEVEL_MASK,
            [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
        return home + "/.gnome2/session-manual";
    }();
    return sFile;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every key of every section with its raw value, or false when GLib cannot
// load the text.
// As startlist reads a file: carriage returns at the end of a line dropped,
// a last line without its line break counted as ended.
bool rawKeys(const std::string& original, Raw& keys, std::vector<std::string>& defaults) {
    std::string text;
    for (size_t i = 0; i < original.size(); ++i) {
        const size_t end = original.find_first_not_of('\r', i);
        if (original[i] == '\r' && (end == std::string::npos || original[end] == '\n')) {
            i = (end == std::string::npos ? original.size() : end) - 1;
            continue;
        }
        text += original[i];
    }
    if (!text.empty() && text.back() != '\n') {
        text += '\n';
    }
    std::unique_ptr<GKeyFile, void (*)(GKeyFile*)> file(g_key_file_new(), g_key_file_free);
    if (!g_key_file_load_from_data(
            file.get(), text.data(), text.size(),
            static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
            nullptr)) {
        return false;
    }
    gchar** groups = g_key_file_get_groups(file.get(), nullptr);
    for (gchar** group = groups; *group != nullptr; ++group) {
        gchar** names = g_key_file_get_keys(file.get(), *group, nullptr, nullptr);
        for (gchar** name = names; name != nullptr && *name != nullptr; ++name) {
            gchar* value = g_key_file_get_value(file.get(), *group, *name, nullptr);
            keys[{*group, *name}] = value != nullptr ? value : "";
            g_free(value);
            if (std::string(*group) == "Default") {
                defaults.push_back(*name);
            }
        }
        g_strfreev(names);
    }
    g_strfreev(groups);
    return true;
}

}  // namespace

int fuzzSessionManual(const uint8_t* data, size_t size) {
    const std::string& file = sessionFile();
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    gnome_config_drop_all();

    Raw before;
    std::vector<std::string> defaults;
    const bool loadable = rawKeys(text, before, defaults);
    const std::vector<std::string> keys = sectionKeys("session-manual/Default/");
    gnome_config_set_int_("session-manual/Default/num_clients", 7, FALSE);
    const bool synced = gnome_config_sync();
    const std::string written = readAll(file);
    if (!loadable) {
        if (synced || written != text) {
            finding("a session file GLib cannot load was written over");
        }
        return 0;
    }
    Raw after;
    std::vector<std::string> unused;
    if (synced && !rawKeys(written, after, unused)) {
        finding("the written session file does not load");
    }
    if (!synced) {
        return 0;  // refused (and logged): the file stays as it was
    }
    // GLib keeps the last of repeated keys, in the order of first sight.
    std::map<std::string, int> seen;
    for (const std::string& key : keys) {
        if (++seen[key] > 1 || before.count({"Default", key}) == 0) {
            finding("startlist reads a key GLib does not have: " + key);
        }
    }
    // GLib lists a key once per line it stands on (a section may come twice).
    const std::set<std::string> distinct(defaults.begin(), defaults.end());
    if (keys.size() != distinct.size()) {
        finding("startlist reads " + std::to_string(keys.size()) + " keys of [Default], GLib " +
                std::to_string(distinct.size()));
    }
    for (const auto& [where, value] : before) {
        if (where == std::make_pair(std::string("Default"), std::string("num_clients"))) {
            continue;
        }
        const auto kept = after.find(where);
        if (kept == after.end() || kept->second != value) {
            finding("the rewrite lost or changed key " + where.second + " of [" + where.first +
                    "]");
        }
    }
    return 0;
}

}  // namespace vesk::legacy::fuzz
