#include "SystemFaults.h"

#include <errno.h>

#include <map>
#include <mutex>
#include <vector>

#include "KioskSystem.h"

namespace {

struct Fault {
    std::string call;
    std::string path;
    int error;
};

std::mutex sMutex;
std::vector<Fault> sFaults;
std::map<int, std::string> sOpenPaths;

bool failing(const char* call, const std::string& path) {
    std::lock_guard<std::mutex> lock(sMutex);
    for (const Fault& fault : sFaults) {
        if (fault.call == call && (fault.path.empty() || fault.path == path)) {
            errno = fault.error;
            return true;
        }
    }
    return false;
}

std::string openPath(int fd) {
    std::lock_guard<std::mutex> lock(sMutex);
    auto it = sOpenPaths.find(fd);
    return it == sOpenPaths.end() ? std::string() : it->second;
}

}  // namespace

void armFault(const std::string& call, const std::string& path, int error) {
    std::lock_guard<std::mutex> lock(sMutex);
    sFaults.push_back({call, path, error});
}

void clearFaults() {
    std::lock_guard<std::mutex> lock(sMutex);
    sFaults.clear();
}

extern "C" {

int __real_kioskRename(const char* from, const char* to);
int __real_kioskMkdir(const char* path, mode_t mode);
int __real_kioskChown(const char* path, uid_t owner, gid_t group);
int __real_kioskChmod(const char* path, mode_t mode);
int __real_kioskOpenAt(int dirFd, const char* path, int flags, mode_t mode);
int __real_kioskUnlinkAt(int dirFd, const char* path, int flags);
ssize_t __real_kioskWrite(int fd, const void* data, size_t size);
int __real_kioskClose(int fd);
int __real_kioskSystem(const char* command);
FILE* __real_kioskPopen(const char* command, const char* mode);

int __wrap_kioskRename(const char* from, const char* to) {
    return failing("rename", std::string(from) + " -> " + to) ? -1 : __real_kioskRename(from, to);
}
int __wrap_kioskMkdir(const char* path, mode_t mode) {
    return failing("mkdir", path) ? -1 : __real_kioskMkdir(path, mode);
}
int __wrap_kioskChown(const char* path, uid_t owner, gid_t group) {
    return failing("chown", path) ? -1 : __real_kioskChown(path, owner, group);
}
int __wrap_kioskChmod(const char* path, mode_t mode) {
    return failing("chmod", path) ? -1 : __real_kioskChmod(path, mode);
}
int __wrap_kioskOpenAt(int dirFd, const char* path, int flags, mode_t mode) {
    if (failing("open", path))
        return -1;
    int fd = __real_kioskOpenAt(dirFd, path, flags, mode);
    if (fd >= 0) {
        std::lock_guard<std::mutex> lock(sMutex);
        sOpenPaths[fd] = path;
    }
    return fd;
}
int __wrap_kioskUnlinkAt(int dirFd, const char* path, int flags) {
    return failing("unlink", path) ? -1 : __real_kioskUnlinkAt(dirFd, path, flags);
}
ssize_t __wrap_kioskWrite(int fd, const void* data, size_t size) {
    return failing("write", openPath(fd)) ? -1 : __real_kioskWrite(fd, data, size);
}
int __wrap_kioskClose(int fd) {
    // A failing close still releases the descriptor, as close(2) does.
    bool fail = failing("close", openPath(fd));
    int saved = errno;
    int result = __real_kioskClose(fd);
    {
        std::lock_guard<std::mutex> lock(sMutex);
        sOpenPaths.erase(fd);
    }
    if (fail) {
        errno = saved;
        return -1;
    }
    return result;
}
int __wrap_kioskSystem(const char* command) {
    return failing("system", command) ? -1 : __real_kioskSystem(command);
}
FILE* __wrap_kioskPopen(const char* command, const char* mode) {
    return failing("popen", command) ? nullptr : __real_kioskPopen(command, mode);
}
}
