// SPDX-License-Identifier: LGPL-2.1-or-later
// The system-wide choice of the policy store: one line in a file that only
// root may write (/etc/vesk/store.conf), read when VESK_POLICY_STORE is not
// set. A file that anyone else could have written is refused, so the policy
// of every session cannot be redirected by whoever managed to write it.
//
//   std::string why;
//   std::string store = StoreSetting::read("/etc/vesk/store.conf", 0, why);
//   if (store.empty() && !why.empty()) ... refused: why names the file and the reason
#pragma once

#include <sys/types.h>
#include <string>

namespace vesk::legacy::store {

class StoreSetting {
  public:
    // The first line of the file without surrounding blanks; empty when
    // there is no file or the line is empty (why stays empty), or when the
    // file is refused: not a regular file, not owned by owner, writable by
    // its group or others, or unreadable (why says so).
    static std::string read(const std::string& path, uid_t owner, std::string& why);
};

}  // namespace vesk::legacy::store
