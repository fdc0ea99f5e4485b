// SPDX-License-Identifier: LGPL-2.1-or-later
// Opens a folder of kept copies only where no one but root and this process's
// user can change what the path leads to: every level from / down is owned by
// one of them and writable by no one else (a sticky folder such as /tmp is
// passed through, not used), and a link is followed only when one of them
// owns it. Missing levels are made through descriptors, never by path.
//
//   std::string problem;
//   const int fd = TrustedFolder::open("/var/cache/hollin/users/alice", true, problem);
//   if (fd < 0) ... problem names the level and why ...
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace vesk::legacy {

class TrustedFolder {
  public:
    // A descriptor of the folder (O_DIRECTORY, close-on-exec), or -1 with
    // the reason in problem and errno set. With create, a missing level is
    // made with levelMode, the folder itself with folderMode.
    static int open(const std::string& path, bool create, std::string& problem,
                    mode_t levelMode = 0755, mode_t folderMode = 0700);

    // Whether root or this process's (effective) user owns what status
    // describes; no one else may change a level or a copy.
    static bool ownedByUs(const struct stat& status);
};

}  // namespace vesk::legacy
