// SPDX-License-Identifier: LGPL-2.1-or-later
#include "SettingsApplier.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "DconfDatabase.h"
#include "MandatoryProfile.h"
#include "SchemaIndex.h"
#include "SettingsMapping.h"
#include "UserSettings.h"
#include "model/LogText.h"
#include "model/Logger.h"
#include "model/Tree.h"

namespace vesk::legacy::settings {

namespace {

uid_t uidOf(const std::string& user) {
    const struct passwd* entry = ::getpwnam(user.c_str());
    if (entry == nullptr) {
        throw std::runtime_error("no user \"" + user + "\" on this system");
    }
    return entry->pw_uid;
}

// Held while one user's files are written: the PAM hook and the service may
// apply the same user at once.
class UserLock {
  public:
    UserLock(const std::string& folder, uid_t uid) {
        ::mkdir(folder.substr(0, folder.rfind('/')).c_str(), 0755);
        ::mkdir(folder.c_str(), 0755);
        const std::string name = folder + "/.hollin-" + std::to_string(uid) + ".lock";
        mFd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (mFd < 0 || ::flock(mFd, LOCK_EX) != 0) {
            throw std::runtime_error("cannot lock " + name + ": " + std::strerror(errno));
        }
    }
    ~UserLock() { ::close(mFd); }
    UserLock(const UserLock&) = delete;
    UserLock& operator=(const UserLock&) = delete;

  private:
    int mFd = -1;
};

std::string joined(const std::vector<std::string>& names) {
    std::string text = SettingsMapping::kComponent;
    for (const std::string& name : names) {
        text += "/" + name;
    }
    return text;
}

}  // namespace

SettingsApplier::Places SettingsApplier::Places::system() {
    Places places;
    // Root's kept copies live with the system's; HOLLIN_CACHE_DIR moves them
    // as it does for every program.
    const char* folder = std::getenv("HOLLIN_CACHE_DIR");
    places.cache =
        folder != nullptr && *folder != '\0' ? (*folder == '/' ? folder : "") : "/var/cache/hollin";
    return places;
}

SettingsApplier::Outcome SettingsApplier::apply(const std::string& user) const {
    const uid_t uid = uidOf(user);
    const UserLock held(mPlaces.profiles, uid);
    UserSettings settings(user, mPlaces.cache);
    if (!settings.read()) {
        throw std::runtime_error("the settings policy of \"" + user +
                                 "\" cannot be read and no copy is kept: " + settings.problem() +
                                 "; the database stays as it was");
    }
    if (!settings.complete()) {
        Logger::warning("hollin-dconf: %s: %s\n", logText(user).c_str(),
                        logText(settings.problem()).c_str());
    }
    SchemaIndex schemas;
    const SettingsMapping::Result result = SettingsMapping(schemas).map(
        settings.tree() != nullptr ? settings.tree()->getRoot() : nullptr);
    for (const SettingsMapping::Skipped& skipped : result.skipped) {
        const std::string layer = settings.layerOf(skipped.names);
        Logger::warning("hollin-dconf: %s (layer %s of user %s) is left out: %s\n",
                        logText(joined(skipped.names)).c_str(),
                        logText(layer.empty() ? std::string("unknown") : layer).c_str(),
                        logText(user).c_str(), logText(skipped.reason).c_str());
    }
    const std::string name = databaseName(uid);
    DconfDatabase database(name, mPlaces.databases);
    MandatoryProfile profile(uid, mPlaces.profiles);
    if (result.empty()) {
        // No policy: the user's dconf is as it would be without this program.
        const bool removed = profile.remove(name);
        return database.remove() || removed ? Outcome::Removed : Outcome::NoPolicy;
    }
    const bool written = database.write(result.keyfile(), result.locks());
    // The profile last: it must never name a database that is not there.
    const bool named = profile.write(name);
    return written || named ? Outcome::Written : Outcome::Unchanged;
}

bool SettingsApplier::remove(const std::string& user) const {
    const uid_t uid = uidOf(user);
    const UserLock held(mPlaces.profiles, uid);
    const std::string name = databaseName(uid);
    const bool profileRemoved = MandatoryProfile(uid, mPlaces.profiles).remove(name);
    const bool databaseRemoved = DconfDatabase(name, mPlaces.databases).remove();
    return profileRemoved || databaseRemoved;
}

}  // namespace vesk::legacy::settings
