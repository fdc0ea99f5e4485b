// SPDX-License-Identifier: LGPL-2.1-or-later
#include "output/FileSystemCalls.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk::legacy {

namespace {

// open and openat are variadic, so they cannot be stored as pointers themselves.
int openFile(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}
int openFileAt(int dirFd, const char* path, int flags, mode_t mode) {
    return ::openat(dirFd, path, flags, mode);
}

}  // namespace

const FileSystemCalls FileSystemCalls::kSystem = {
    openFile,   ::write, ::fsync, ::close, ::fchmod, ::rename, ::unlink, openFileAt,
    ::unlinkat, ::mkdir, ::chown, ::chmod, ::system, ::popen,  ::pclose,
};

// Spelled out rather than copied from kSystem, so that it is constant
// initialised and usable from any other static initialiser.
FileSystemCalls FileSystemCalls::sCurrent = {
    openFile,   ::write, ::fsync, ::close, ::fchmod, ::rename, ::unlink, openFileAt,
    ::unlinkat, ::mkdir, ::chown, ::chmod, ::system, ::popen,  ::pclose,
};

}  // namespace vesk::legacy
