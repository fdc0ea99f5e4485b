// SPDX-License-Identifier: LGPL-2.1-or-later
// The system calls of a kiosk installation, each behind one C function, so that
// tests can make any of them fail (they link with -Wl,--wrap=kioskRename ...).
// The settings files themselves are written by AtomicFile, whose calls tests
// replace through FileSystemCalls.
#pragma once

#include <stdio.h>
#include <sys/types.h>

extern "C" {

int kioskRename(const char* from, const char* to);
int kioskMkdir(const char* path, mode_t mode);
int kioskChown(const char* path, uid_t owner, gid_t group);
int kioskChmod(const char* path, mode_t mode);
int kioskOpenAt(int dirFd, const char* path, int flags, mode_t mode);
int kioskUnlinkAt(int dirFd, const char* path, int flags);
int kioskClose(int fd);
int kioskSystem(const char* command);
FILE* kioskPopen(const char* command, const char* mode);
int kioskPclose(FILE* stream);
}
