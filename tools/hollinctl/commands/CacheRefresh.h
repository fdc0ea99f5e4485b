// SPDX-License-Identifier: LGPL-2.1-or-later
// hollinctl cache refresh --user NAME: run as root, keeps the last complete
// policy of a user's components in $HOLLIN_CACHE_DIR, a folder the user can
// read but not write, so that locks hold against the user while the store
// cannot be read at the user's login.
//
//   HOLLIN_CACHE_DIR=/var/cache/hollin/users/alice hollinctl cache refresh --user alice
#pragma once

#include <cstdio>

#include "CommandLine.h"

namespace vesk::legacy::hollinctl {

class CacheRefresh {
  public:
    // Checks the command line, refreshes every component of the user (or
    // those named) and returns the exit status.
    static int run(const CommandLine& line, std::FILE* out, std::FILE* err);
};

}  // namespace vesk::legacy::hollinctl
