// SPDX-License-Identifier: LGPL-2.1-or-later
#include "output/FileSystemCalls.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk::legacy {

namespace {

// open is variadic, so it cannot be stored as a pointer itself.
int openFile(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

}  // namespace

const FileSystemCalls FileSystemCalls::kSystem = {
    openFile, ::write, ::fsync, ::close, ::fchmod, ::rename, ::unlink,
};

// Spelled out rather than copied from kSystem, so that it is constant
// initialised and usable from any other static initialiser.
FileSystemCalls FileSystemCalls::sCurrent = {
    openFile, ::write, ::fsync, ::close, ::fchmod, ::rename, ::unlink,
};

}  // namespace vesk::legacy
