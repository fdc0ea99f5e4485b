// SPDX-License-Identifier: LGPL-2.1-or-later
// The dconf profile root writes for one user in /run/dconf/user/<uid>: dconf
// prefers it to DCONF_PROFILE and to the site's profile, so the locks of the
// user's policy database hold whatever the user sets. Below the policy come
// the system databases of the site's own default profile, in their order.
//
//   MandatoryProfile profile(1000);
//   profile.write("hollin_1000");   // user-db:user, system-db:hollin_1000, site dbs
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

namespace vesk::legacy::settings {

class MandatoryProfile {
  public:
    explicit MandatoryProfile(uid_t uid, std::string folder = "/run/dconf/user",
                              std::vector<std::string> siteProfiles = {
                                  "/etc/dconf/profile/user", "/usr/share/dconf/profile/user"});

    // The text for the database; false when the file held it already.
    // Throws std::runtime_error naming the file and why.
    bool write(const std::string& database) const;
    // Removes the profile when it is one this program wrote for database;
    // another one (the site's own) stays. False when nothing was removed.
    bool remove(const std::string& database) const;
    // Whether the file there is one this program wrote for database.
    bool isOurs(const std::string& database) const;
    std::string text(const std::string& database) const;

    const std::string& file() const { return mFile; }
    // The system databases the first site profile that exists names.
    std::vector<std::string> siteDatabases() const;

  private:
    std::string mFolder;
    std::string mFile;
    std::vector<std::string> mSiteProfiles;
};

}  // namespace vesk::legacy::settings
