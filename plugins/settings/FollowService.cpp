// SPDX-License-Identifier: LGPL-2.1-or-later
#include "FollowService.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "MandatoryProfile.h"
#include "UserSettings.h"
#include "model/LogText.h"
#include "model/Logger.h"
#include "output/RegularFile.h"

namespace vesk::legacy::settings {

namespace {

constexpr std::chrono::seconds kRetry(5);

// The numeric names in a folder.
std::set<uid_t> numericEntries(const std::string& folder) {
    std::set<uid_t> found;
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) {
        return found;
    }
    while (const struct dirent* entry = ::readdir(listing)) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(entry->d_name, &end, 10);
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9' && *end == '\0' &&
            value < static_cast<unsigned long>(static_cast<uid_t>(-1))) {
            found.insert(static_cast<uid_t>(value));
        }
    }
    ::closedir(listing);
    return found;
}

std::string stampOf(const std::string& file) {
    struct stat info;
    if (::stat(file.c_str(), &info) != 0) {
        return "-";
    }
    return std::to_string(info.st_ino) + "." + std::to_string(info.st_mtim.tv_sec) + "." +
           std::to_string(info.st_mtim.tv_nsec);
}

}  // namespace

FollowService::FollowService(const SettingsApplier& applier, SettingsApplier::Places places,
                             std::string sessions, std::string loginDefs)
    : mApplier(applier),
      mPlaces(std::move(places)),
      mSessions(std::move(sessions)),
      mLoginDefs(std::move(loginDefs)) {}

uid_t FollowService::firstUserId(const std::string& loginDefs) {
    std::string text;
    std::string problem;
    uid_t first = 1000;
    if (!readRegularFile(loginDefs, 1024 * 1024, "too large", text, problem)) {
        return first;
    }
    std::istringstream lines(text);
    std::string word;
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        unsigned long value = 0;
        if (words >> word && word == "UID_MIN" && words >> value) {
            first = static_cast<uid_t>(value);
        }
    }
    return first;
}

std::set<uid_t> FollowService::users() const {
    std::set<uid_t> served;
    for (uid_t uid : numericEntries(mPlaces.profiles)) {
        if (MandatoryProfile(uid, mPlaces.profiles).isOurs(SettingsApplier::databaseName(uid))) {
            served.insert(uid);
        }
    }
    const uid_t first = firstUserId(mLoginDefs);
    for (uid_t uid : numericEntries(mSessions)) {
        if (uid >= first) {
            served.insert(uid);
        }
    }
    return served;
}

int FollowService::round() {
    int applied = 0;
    const auto now = std::chrono::steady_clock::now();
    const std::string site =
        stampOf("/etc/dconf/profile/user") + stampOf("/usr/share/dconf/profile/user");
    for (uid_t uid : users()) {
        const struct passwd* entry = ::getpwuid(uid);
        if (entry == nullptr) {
            continue;
        }
        const std::string user = entry->pw_name;
        State& state = mStates[uid];
        const std::string signature = UserSettings::signature(user) + "|" + site;
        if (signature == state.signature && (!state.failed || now < state.retryAt)) {
            continue;
        }
        state.signature = signature;
        try {
            mApplier.apply(user);
            state.failed = false;
            ++applied;
        } catch (const std::exception& failure) {
            Logger::error("hollin-dconf: %s\n", logText(failure.what()).c_str());
            state.failed = true;
            state.retryAt = now + kRetry;
        }
    }
    return applied;
}

void FollowService::run(const std::atomic<bool>& stop, std::chrono::milliseconds interval) {
    while (!stop) {
        round();
        std::this_thread::sleep_for(interval);
    }
}

}  // namespace vesk::legacy::settings
