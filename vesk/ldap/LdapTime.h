// SPDX-License-Identifier: LGPL-2.1-or-later
// The modification time of a layer entry, from the GeneralizedTime slapd
// writes, and the stamp libvesk and hollinctl give a layer read from one.
//
//   LdapTime::stampOf("users/alice", "20241206153320Z", csn)  // "users/alice 1733499200"
#pragma once

#include <string>

namespace vesk::legacy::store {

class LdapTime {
  public:
    // Seconds since 1970 of "YYYYMMDDHHMMSS[.fraction]Z" (an entryCSN starts
    // with one); false for other text.
    static bool epochOf(const std::string& time, long long& seconds);
    // "scope seconds": the entry's modifyTimestamp, or the time of its
    // entryCSN when the server keeps no timestamp, or 0.
    static std::string stampOf(const std::string& scope, const std::string& modifyTimestamp,
                               const std::string& entryCsn);
};

}  // namespace vesk::legacy::store
