// SPDX-License-Identifier: LGPL-2.1-or-later
#include "KioskSystem.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {

int kioskRename(const char* from, const char* to) {
    return rename(from, to);
}
int kioskMkdir(const char* path, mode_t mode) {
    return mkdir(path, mode);
}
int kioskChown(const char* path, uid_t owner, gid_t group) {
    return chown(path, owner, group);
}
int kioskChmod(const char* path, mode_t mode) {
    return chmod(path, mode);
}
int kioskOpenAt(int dirFd, const char* path, int flags, mode_t mode) {
    return openat(dirFd, path, flags, mode);
}
int kioskUnlinkAt(int dirFd, const char* path, int flags) {
    return unlinkat(dirFd, path, flags);
}
int kioskClose(int fd) {
    return close(fd);
}
int kioskSystem(const char* command) {
    return system(command);
}
FILE* kioskPopen(const char* command, const char* mode) {
    return popen(command, mode);
}
int kioskPclose(FILE* stream) {
    return pclose(stream);
}
}
