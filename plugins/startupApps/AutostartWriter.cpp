// SPDX-License-Identifier: LGPL-2.1-or-later
#include "AutostartWriter.h"

#include <errno.h>
#include <glib.h>
#include <string.h>

#include <cstdlib>

#include "ExecLine.h"
#include "ManagedFile.h"
#include "StartupConstants.h"
#include "gnome2/gnome-desktop-item.h"
#include "model/Exception.h"
#include "model/LogText.h"
#include "model/Logger.h"

namespace vesk::legacy::plugins::startup {

namespace {

const char kExtension[] = ".desktop";

// The autostart format has no order within a phase. An order below the
// default starts with the desktop where a session manager has phases for
// applications (KDE's phase 1, after the desktop; 2 is after the restored
// session). GNOME's phases before "Applications" are for session
// components that must register, so GNOME starts all of them together.
const char* kdePhase(const std::string& order) {
    char* end = nullptr;
    const long value = std::strtol(order.c_str(), &end, 10);
    return !order.empty() && *end == '\0' && value < std::atol(kDefaultOrder) ? "1" : "2";
}

}  // namespace

AutostartWriter::AutostartWriter(std::string dir) : mDir(std::move(dir)) {}

std::string AutostartWriter::defaultDir() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::string(config) + "/autostart";
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        return std::string();
    }
    return std::string(strcmp(home, "/") == 0 ? "" : home) + "/.config/autostart";
}

std::string AutostartWriter::fileName(const std::string& appName) {
    if (appName.empty() || appName.find('/') != std::string::npos) {
        return std::string();
    }
    return kAutostartPrefix + appName + kExtension;
}

bool AutostartWriter::write(const std::vector<StartupApp>& apps) const {
    if (mDir.empty()) {
        if (apps.empty()) {
            return true;  // nothing to write, and no folder to clean
        }
        throw Exception("HOME is not an absolute path: no autostart folder");
    }
    if (!apps.empty() && g_mkdir_with_parents(mDir.c_str(), 0700) != 0) {
        throw Exception("Could not create the autostart folder " + mDir + ": " + strerror(errno));
    }
    std::set<std::string> written;
    bool saved = true;
    for (const StartupApp& app : apps) {
        const std::string name = fileName(app.name);
        if (app.name.empty()) {
            Logger::warning("Skipping a startup command outside any application: %s\n",
                            logText(app.command).c_str());
        } else if (name.empty()) {
            Logger::error("Skipping a startup application whose name is no file name: %s\n",
                          logText(app.name).c_str());
        } else if (written.insert(name).second) {
            saved = save(app, mDir + "/" + name) && saved;
        }
    }
    removeOthers(written);
    return saved;
}

bool AutostartWriter::save(const StartupApp& app, const std::string& path) const {
    std::string exec, why;
    // The command is a shell-quoted argument list, as the session manager split it.
    if (!ExecLine::quote(app.command, exec, why)) {
        Logger::error(
            "Skipping the startup application %s: its command does not split into "
            "arguments: %s\n",
            logText(app.name).c_str(), logText(why).c_str());
        return true;  // no retry gives it arguments
    }
    GnomeDesktopItem* item = gnome_desktop_item_new();
    gnome_desktop_item_set_string(item, "Type", "Application");
    gnome_desktop_item_set_string(item, "Name", app.name.c_str());
    gnome_desktop_item_set_string(item, "Exec", exec.c_str());
    gnome_desktop_item_set_string(item, "X-KDE-autostart-phase", kdePhase(app.order));
    gnome_desktop_item_set_string(item, kOrderKey, app.order.c_str());
    gnome_desktop_item_set_string(item, ManagedFile::kMarkerKey, "true");
    GError* error = nullptr;
    const bool saved = gnome_desktop_item_save(item, path.c_str(), TRUE, &error);
    if (!saved) {
        Logger::error("Could not save the autostart entry %s: %s\n", logText(path).c_str(),
                      logText(error != nullptr ? error->message : "unknown failure").c_str());
        g_clear_error(&error);
    }
    gnome_desktop_item_unref(item);
    return saved;
}

void AutostartWriter::removeOthers(const std::set<std::string>& keep) const {
    ManagedFile::removeAll(mDir, keep, "autostart entry");
}

}  // namespace vesk::legacy::plugins::startup
