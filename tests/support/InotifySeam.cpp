// SPDX-License-Identifier: LGPL-2.1-or-later
#include "InotifySeam.h"

#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace inotifyseam {
namespace {

std::atomic<bool> sOverflow{false};
std::atomic<int> sInstanceError{0};
std::atomic<int> sWatchError{0};
std::mutex sMutex;
std::map<std::string, size_t> sWatchesOn;

bool isInotify(int fd) {
    char target[64] = "";
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    return length > 0 && std::strcmp(target, "anon_inode:inotify") == 0;
}

}  // namespace

void overflowNext() {
    sOverflow = true;
}

void refuse(int instanceError, int watchError) {
    sInstanceError = instanceError;
    sWatchError = watchError;
}

size_t watchesOn(const std::string& path) {
    std::lock_guard<std::mutex> lock(sMutex);
    const auto found = sWatchesOn.find(path);
    return found != sWatchesOn.end() ? found->second : 0;
}

}  // namespace inotifyseam

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
    using namespace inotifyseam;
    if (sOverflow && size >= sizeof(struct inotify_event) && isInotify(fd) &&
        sOverflow.exchange(false)) {
        struct inotify_event event = {};
        event.wd = -1;
        event.mask = IN_Q_OVERFLOW;
        std::memcpy(buffer, &event, sizeof event);
        return static_cast<ssize_t>(sizeof event);
    }
    return syscall(SYS_read, fd, buffer, size);
}

extern "C" int inotify_init1(int flags) {
    if (const int error = inotifyseam::sInstanceError) {
        errno = error;
        return -1;
    }
    return static_cast<int>(syscall(SYS_inotify_init1, flags));
}

extern "C" int inotify_add_watch(int fd, const char* path, uint32_t mask) {
    if (const int error = inotifyseam::sWatchError) {
        errno = error;
        return -1;
    }
    const int wd = static_cast<int>(syscall(SYS_inotify_add_watch, fd, path, mask));
    if (wd >= 0) {
        std::lock_guard<std::mutex> lock(inotifyseam::sMutex);
        ++inotifyseam::sWatchesOn[path];
    }
    return wd;
}
