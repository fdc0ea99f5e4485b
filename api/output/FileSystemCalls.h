// SPDX-License-Identifier: LGPL-2.1-or-later
// The system calls through which files and folders are written and outside
// tools run. Tests replace entries to make a write, an fsync, a rename or a
// tool fail, and restore them afterwards:
//
//   const FileSystemCalls saved = FileSystemCalls::sCurrent;
//   FileSystemCalls::sCurrent.mRename = [](const char*, const char*) { errno = EIO; return -1; };
//   tree.serialize(path);  // fails, logs, leaves the old file alone
//   FileSystemCalls::sCurrent = saved;
#pragma once

#include <stdio.h>
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
    int (*mOpenAt)(int dirFd, const char* path, int flags, mode_t mode);
    int (*mUnlinkAt)(int dirFd, const char* path, int flags);
    int (*mMkdir)(const char* path, mode_t mode);
    int (*mChown)(const char* path, uid_t owner, gid_t group);
    int (*mChmodPath)(const char* path, mode_t mode);
    int (*mSystem)(const char* command);
    FILE* (*mPopen)(const char* command, const char* mode);
    int (*mPclose)(FILE* stream);

    // The calls of the C library.
    static const FileSystemCalls kSystem;
    // The calls in use; kSystem unless a test replaced some.
    static FileSystemCalls sCurrent;
};

}  // namespace vesk::legacy
