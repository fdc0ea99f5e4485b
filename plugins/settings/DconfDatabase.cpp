// SPDX-License-Identifier: LGPL-2.1-or-later
#include "DconfDatabase.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "model/LogText.h"
#include "model/Logger.h"
#include "output/AtomicFile.h"
#include "output/RegularFile.h"

namespace vesk::legacy::settings {

namespace {

constexpr size_t kMaxFile = 64 * 1024 * 1024;

std::string readOrEmpty(const std::string& fileName) {
    std::string text;
    std::string problem;
    return readRegularFile(fileName, kMaxFile, "too large", text, problem) ? text : std::string();
}

void makeFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        throw std::runtime_error("cannot create " + folder + ": " + std::strerror(errno));
    }
}

void writeFile(const std::string& fileName, const std::string& text) {
    AtomicFile file(fileName, 0644, AtomicFile::Links::Replace);
    if (!file.open() || !file.write(text) || !file.commit()) {
        throw std::runtime_error("cannot write " + fileName + ": " + file.getError());
    }
}

// A client that has the old file mapped reads it again once its header is
// gone; the header is cleared only after the new file took the name.
void invalidate(int fd) {
    static const char zeros[8] = {};
    if (fd >= 0) {
        if (::pwrite(fd, zeros, sizeof zeros, 0) != static_cast<ssize_t>(sizeof zeros)) {
            Logger::warning("hollin-dconf: cannot invalidate a replaced database: %s\n",
                            std::strerror(errno));
        }
        ::close(fd);
    }
}

}  // namespace

DconfDatabase::DconfDatabase(std::string name, std::string root)
    : mName(std::move(name)), mFile(std::move(root) + "/" + mName) {
    if (!isValidName(mName)) {
        throw std::runtime_error("\"" + mName + "\" cannot name a dconf database");
    }
}

bool DconfDatabase::isValidName(const std::string& name) {
    if (name.empty()) {
        return false;
    }
    for (char c : name) {
        if (!g_ascii_isalnum(c) && c != '_') {
            return false;
        }
    }
    return true;
}

bool DconfDatabase::exists() const {
    struct stat info;
    return ::lstat(mFile.c_str(), &info) == 0;
}

bool DconfDatabase::write(const std::string& keyfile, const std::string& locks) const {
    if (exists() && readOrEmpty(keyfileName()) == keyfile && readOrEmpty(locksName()) == locks) {
        return false;
    }
    makeFolder(mFile + ".d");
    makeFolder(mFile + ".d/locks");
    writeFile(keyfileName(), keyfile);
    writeFile(locksName(), locks);
    compile();
    announce(mName);
    return true;
}

void DconfDatabase::compile() const {
    const std::string temporary = mFile + ".hollin-new";
    const std::string folder = mFile + ".d";
    const gchar* argv[] = {"dconf", "compile", temporary.c_str(), folder.c_str(), nullptr};
    gchar* errors = nullptr;
    gint status = 0;
    GError* error = nullptr;
    if (!g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr,
                      static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL),
                      nullptr, nullptr, nullptr, &errors, &status, &error) ||
        !g_spawn_check_wait_status(status, &error)) {
        std::string reason = error->message;
        if (errors != nullptr && *errors != '\0') {
            reason += ": " + std::string(errors);
            while (!reason.empty() && reason.back() == '\n') {
                reason.pop_back();
            }
        }
        g_error_free(error);
        g_free(errors);
        ::unlink(temporary.c_str());
        throw std::runtime_error("cannot compile " + folder + " with dconf: " + reason);
    }
    g_free(errors);
    if (::chmod(temporary.c_str(), 0644) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        throw std::runtime_error("cannot set the mode of " + temporary + ": " +
                                 std::strerror(saved));
    }
    const int old = ::open(mFile.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (::rename(temporary.c_str(), mFile.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        if (old >= 0) {
            ::close(old);
        }
        throw std::runtime_error("cannot rename " + temporary + " to " + mFile + ": " +
                                 std::strerror(saved));
    }
    invalidate(old);
}

bool DconfDatabase::remove() const {
    const bool existed = exists();
    const int old = ::open(mFile.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (::unlink(mFile.c_str()) != 0 && errno != ENOENT) {
        const int saved = errno;
        if (old >= 0) {
            ::close(old);
        }
        throw std::runtime_error("cannot remove " + mFile + ": " + std::strerror(saved));
    }
    invalidate(old);
    for (const std::string& name : {locksName(), keyfileName()}) {
        if (::unlink(name.c_str()) != 0 && errno != ENOENT) {
            throw std::runtime_error("cannot remove " + name + ": " + std::strerror(errno));
        }
    }
    // Folders holding files of someone else's stay.
    ::rmdir((mFile + ".d/locks").c_str());
    ::rmdir((mFile + ".d").c_str());
    if (existed) {
        announce(mName);
    }
    return existed;
}

void DconfDatabase::announce(const std::string& name) {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (bus != nullptr) {
        const std::string object = "/ca/desrt/dconf/Writer/" + name;
        if (g_dbus_connection_emit_signal(bus, nullptr, object.c_str(), "ca.desrt.dconf.Writer",
                                          "WritabilityNotify", g_variant_new("(s)", "/"), &error)) {
            g_dbus_connection_flush_sync(bus, nullptr, &error);
        }
        g_object_unref(bus);
    }
    if (error != nullptr) {
        Logger::warning("hollin-dconf: running sessions were not told of the change of %s: %s\n",
                        logText(name).c_str(), logText(error->message).c_str());
        g_error_free(error);
    }
}

}  // namespace vesk::legacy::settings
