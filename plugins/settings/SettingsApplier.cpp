#include "SettingsApplier.h"

#include <pwd.h>

#include <cstdlib>
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
    UserSettings settings(user, mPlaces.cache);
    if (!settings.read()) {
        throw std::runtime_error("the settings policy of \"" + user +
                                 "\" cannot be read and no copy is kept: " + settings.problem() +
                                 "; the database stays as it was");
    }
    if (!settings.complete()) {
        Logger::warning("hollin-dconf: %s: %s\n", user.c_str(), settings.problem().c_str());
    }
    SchemaIndex schemas;
    const SettingsMapping::Result result = SettingsMapping(schemas).map(
        settings.tree() != nullptr ? settings.tree()->getRoot() : nullptr);
    for (const SettingsMapping::Skipped& skipped : result.skipped) {
        const std::string layer = settings.layerOf(skipped.names);
        Logger::warning("hollin-dconf: %s (layer %s of user %s) is left out: %s\n",
                        logText(joined(skipped.names)).c_str(),
                        layer.empty() ? "unknown" : logText(layer).c_str(), logText(user).c_str(),
                        logText(skipped.reason).c_str());
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
    const std::string name = databaseName(uid);
    const bool profileRemoved = MandatoryProfile(uid, mPlaces.profiles).remove(name);
    const bool databaseRemoved = DconfDatabase(name, mPlaces.databases).remove();
    return profileRemoved || databaseRemoved;
}

}  // namespace vesk::legacy::settings
