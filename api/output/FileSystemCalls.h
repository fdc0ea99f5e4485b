// SPDX-License-Identifier: LGPL-2.1-or-later
// The system calls through which tree files are written. Tests replace entries
// to make a write, an fsync or a rename fail, and restore them afterwards:
//
//   const FileSystemCalls saved = FileSystemCalls::sCurrent;
//   FileSystemCalls::sCurrent.mRename = [](const char*, const char*) { errno = EIO; return -1; };
//   tree.serialize(path);  // fails, logs, leaves the old file alone
//   FileSystemCalls::sCurrent = saved;
#pragma once

#include <sys/types.h>

namespace vesk::legacy {

struct FileSystemCalls {
    int (*mOpen)(const char* path, int flags, mode_t mode);
    ssize_t (*mWrite)(int fd, const void* data, size_t size);
    int (*mSync)(int fd);
    int (*mClose)(int fd);
    int (*mChmod)(int fd, mode_t mode);
    int (*mRename)(const char* from, const char* to);
    int (*mUnlink)(const char* path);

    // The calls of the C library.
    static const FileSystemCalls kSystem;
    // The calls in use; kSystem unless a test replaced some.
    static FileSystemCalls sCurrent;
};

}  // namespace vesk::legacy
