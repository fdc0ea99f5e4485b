// SPDX-License-Identifier: LGPL-2.1-or-later
#include "SessionWatch.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "model/LogText.h"
#include "model/Logger.h"

using vesk::legacy::Logger;
using vesk::legacy::logText;

namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// A lock file name keeps letters, digits, ".", "-" and ":"; anything else
// (a "/" in an odd display name) becomes "_".
std::string fileSafe(const std::string& text) {
    std::string safe;
    for (char c : text.substr(0, 64)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':';
        safe += plain ? c : '_';
    }
    return safe;
}

// logind keeps a file per session while it exists; a session being closed
// (a logout whose processes linger) says so in it.
bool logindSessionOpen(const std::string& file) {
    std::ifstream in(file);
    if (!in) {
        return false;
    }
    for (std::string line; std::getline(in, line);) {
        if (line == "STATE=closing") {
            return false;
        }
    }
    return true;
}

}  // namespace

SessionWatch::SessionWatch() {
    const std::string session = variable("XDG_SESSION_ID");
    if (!session.empty() && session.find('/') == std::string::npos &&
        logindSessionOpen("/run/systemd/sessions/" + session)) {
        mLogindFile = "/run/systemd/sessions/" + session;
        mIdentity = "logind-" + fileSafe(session);
    }
    const std::string display = variable("DISPLAY");
    if (mIdentity.empty() && !display.empty()) {
        mDisplay = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(mDisplay) == 0) {
            mIdentity = "display-" + fileSafe(display);
        } else {
            Logger::warning("Cannot connect to the X display %s to follow the session\n",
                            logText(display).c_str());
            xcb_disconnect(mDisplay);
            mDisplay = nullptr;
        }
    }
    const std::string address = variable("DBUS_SESSION_BUS_ADDRESS");
    if (mIdentity.empty() && !address.empty()) {
        GError* error = nullptr;
        // A private connection: closing it is ours to see, and GLib must not
        // end the process on its own when it closes.
        mBus = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        if (mBus != nullptr) {
            g_dbus_connection_set_exit_on_close(mBus, FALSE);
            std::ostringstream key;
            key << "bus-" << std::hex << std::hash<std::string>()(address);
            mIdentity = key.str();
        } else {
            Logger::warning("Cannot connect to the session bus to follow the session: %s\n",
                            logText(error->message).c_str());
            g_error_free(error);
        }
    }
    if (mIdentity.empty()) {
        Logger::debug("No session to follow: running until stopped\n");
    } else {
        Logger::debug("following the session %s\n", logText(mIdentity).c_str());
    }
}

SessionWatch::~SessionWatch() {
    if (mDisplay != nullptr) {
        xcb_disconnect(mDisplay);
    }
    if (mBus != nullptr) {
        g_dbus_connection_close_sync(mBus, nullptr, nullptr);
        g_object_unref(mBus);
    }
    for (int fd : mLocks) {
        close(fd);
    }
}

bool SessionWatch::claim() {
    const std::string runtime = variable("XDG_RUNTIME_DIR");
    std::vector<std::string> keys;
    if (!mIdentity.empty()) {
        keys.push_back(mIdentity);
    }
    for (const auto& [name, prefix] :
         {std::pair{"DISPLAY", "display-"}, std::pair{"WAYLAND_DISPLAY", "wayland-"}}) {
        const std::string key = prefix + fileSafe(variable(name));
        if (!variable(name).empty() && key != mIdentity) {
            keys.push_back(key);
        }
    }
    if (keys.empty() || runtime.empty() || runtime[0] != '/') {
        Logger::debug("No session or XDG_RUNTIME_DIR to keep a second deskrunner away\n");
        return true;
    }
    for (const std::string& key : keys) {
        const std::string path = runtime + "/hollin-deskrunner-" + key + ".lock";
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            Logger::warning("Cannot open the lock %s: %s\n", logText(path).c_str(),
                            strerror(errno));
            continue;
        }
        mLocks.push_back(fd);
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            continue;
        }
        if (errno == EWOULDBLOCK) {
            Logger::info("deskrunner already runs for the session %s; this one ends\n",
                         logText(key).c_str());
            return false;
        }
        Logger::warning("Cannot take the lock %s: %s\n", logText(path).c_str(), strerror(errno));
    }
    return true;
}

bool SessionWatch::ended() {
    if (!mLogindFile.empty()) {
        return !logindSessionOpen(mLogindFile);
    }
    if (mDisplay != nullptr) {
        // Events are not asked for; whatever comes is read and dropped so
        // that a closed connection shows as an error.
        struct pollfd display = {xcb_get_file_descriptor(mDisplay), POLLIN, 0};
        if (poll(&display, 1, 0) > 0) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(mDisplay)) {
                free(event);
            }
        }
        return xcb_connection_has_error(mDisplay) != 0;
    }
    return mBus != nullptr && g_dbus_connection_is_closed(mBus);
}
