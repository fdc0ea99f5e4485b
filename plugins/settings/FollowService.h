// SPDX-License-Identifier: LGPL-2.1-or-later
// hollin-dconf follow: keeps every served user's database in step with the
// policy. Served are the users this program wrote a profile for (found in
// the profile folder, so also those applied before a restart) and every user
// with a session folder in /run/user whose uid is at least UID_MIN of
// /etc/login.defs: system accounts such as the login screen's rely on the
// site's profile and never get one. Each round compares the files of every
// user's stack with the last round and applies the users whose files moved;
// a failed apply is tried again after a while.
//
//   FollowService service(applier, places);
//   service.run(stopFlag);      // until the flag is set
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <string>

#include "SettingsApplier.h"

namespace vesk::legacy::settings {

class FollowService {
  public:
    FollowService(const SettingsApplier& applier, SettingsApplier::Places places,
                  std::string sessions = "/run/user", std::string loginDefs = "/etc/login.defs");

    // Rounds every interval until stop is set.
    void run(const std::atomic<bool>& stop, std::chrono::milliseconds interval);
    // One round; the number of users applied.
    int round();
    // The users served now.
    std::set<uid_t> users() const;
    // UID_MIN of the file, 1000 when it names none.
    static uid_t firstUserId(const std::string& loginDefs);

  private:
    struct State {
        std::string signature;
        std::chrono::steady_clock::time_point retryAt{};
        bool failed = false;
    };

    const SettingsApplier& mApplier;
    SettingsApplier::Places mPlaces;
    std::string mSessions;
    std::string mLoginDefs;
    std::map<uid_t, State> mStates;
};

}  // namespace vesk::legacy::settings
