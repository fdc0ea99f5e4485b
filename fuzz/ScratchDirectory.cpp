// SPDX-License-Identifier: LGPL-2.1-or-later
#include "ScratchDirectory.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "TreeChecks.h"

namespace vesk::legacy::fuzz {

ScratchDirectory::ScratchDirectory() {
    struct stat status;
    const char* base = ::stat("/dev/shm", &status) == 0 && S_ISDIR(status.st_mode) &&
                               ::access("/dev/shm", W_OK) == 0
                           ? "/dev/shm"
                           : nullptr;
    if (!base) {
        base = getenv("TMPDIR") && *getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp";
    }
    std::string pattern = std::string(base) + "/hollin-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        finding("cannot create a scratch directory under " + std::string(base));
    }
    mPath = pattern;
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(mPath, ignored);
}

const std::string& ScratchDirectory::path() {
    static const ScratchDirectory sDirectory;
    return sDirectory.mPath;
}

}  // namespace vesk::legacy::fuzz
