// SPDX-License-Identifier: LGPL-2.1-or-later
#include "DesktopFolder.h"

#include <errno.h>
#include <glib.h>
#include <string.h>
#include <sys/stat.h>

namespace vesk::legacy::plugins::launchers {

namespace {

// Whether user-dirs.dirs has a desktop line at all: when a reload finds none,
// GLib keeps the folder it knew before instead of falling back.
bool namesDesktop() {
    const char* config = g_getenv("XDG_CONFIG_HOME");
    gchar* path = config != nullptr && config[0] == '/'
                      ? g_build_filename(config, "user-dirs.dirs", nullptr)
                      : g_build_filename(g_getenv("HOME"), ".config", "user-dirs.dirs", nullptr);
    gchar* text = nullptr;
    bool found = false;
    if (g_file_get_contents(path, &text, nullptr, nullptr)) {
        gchar** lines = g_strsplit(text, "\n", -1);
        for (gchar** line = lines; *line != nullptr && !found; ++line) {
            found = g_str_has_prefix(g_strchug(*line), "XDG_DESKTOP_DIR");
        }
        g_strfreev(lines);
        g_free(text);
    }
    g_free(path);
    return found;
}

}  // namespace

std::string userDesktopDir() {
    if (!namesDesktop()) {
        return std::string();
    }
    // GLib reads user-dirs.dirs once per process; xdg-user-dirs-update may
    // have written it since (at the first login of a session in German, say).
    g_reload_user_special_dirs_cache();
    const char* dir = g_get_user_special_dir(G_USER_DIRECTORY_DESKTOP);
    if (dir == nullptr) {
        return std::string();
    }
    // Without an entry in the file GLib answers <home>/Desktop with the home
    // it saw first in this process; the caller's own fallback reads HOME now.
    gchar* fallback = g_build_filename(g_get_home_dir(), "Desktop", nullptr);
    const bool named = strcmp(dir, fallback) != 0;
    g_free(fallback);
    return named ? std::string(dir) : std::string();
}

bool ensureDesktopDir(const std::string& dir, std::string& why) {
    std::string path = dir;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        return true;
    }
    if (mkdir(path.c_str(), 0755) == 0) {
        // The umask would narrow it; a desktop folder is readable by all, as
        // xdg-user-dirs-update makes it.
        chmod(path.c_str(), 0755);
        return true;
    }
    why = strerror(errno);
    return errno == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace vesk::legacy::plugins::launchers
