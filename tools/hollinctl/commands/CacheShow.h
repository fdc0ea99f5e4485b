// SPDX-License-Identifier: LGPL-2.1-or-later
// hollinctl cache show [--user NAME] [COMPONENT...]: what the copies kept
// from the last complete builds hold -- for whom, from which layers, written
// when -- the copies programs start with while a layer cannot be read.
//
//   HOLLIN_CACHE_DIR=/var/cache/hollin/users/alice hollinctl cache show --user alice
#pragma once

#include <cstdio>

#include "CommandLine.h"

namespace vesk::legacy::hollinctl {

class CacheShow {
  public:
    // Returns the exit status: 1 when a component named has no copy.
    static int run(const CommandLine& line, std::FILE* out, std::FILE* err);
};

}  // namespace vesk::legacy::hollinctl
