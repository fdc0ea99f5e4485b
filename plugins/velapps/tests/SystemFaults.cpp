#include "SystemFaults.h"

#include <errno.h>

#include <map>
#include <mutex>
#include <vector>

#include "KioskSystem.h"

namespace {

struct Fault {
    std::string call, path;
    int error;
};

std::mutex sMutex;
std::vector<Fault> sFaults;
std::map<int, std::string> sOpenPaths;  // for write and close

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

// __wrap_kioskX fails as armed, else calls the real kioskX.
#define KIOSK_WRAP(type, name, call, key, failed, params, args)  \
    type __real_##name params;                                   \
    type __wrap_##name params {                                  \
        return failing(call, key) ? failed : __real_##name args; \
    }

extern "C" {

KIOSK_WRAP(int, kioskRename, "rename", std::string(from) + " -> " + to, -1,
           (const char* from, const char* to), (from, to))
KIOSK_WRAP(int, kioskMkdir, "mkdir", path, -1, (const char* path, mode_t mode), (path, mode))
KIOSK_WRAP(int, kioskChown, "chown", path, -1, (const char* path, uid_t owner, gid_t group),
           (path, owner, group))
KIOSK_WRAP(int, kioskChmod, "chmod", path, -1, (const char* path, mode_t mode), (path, mode))
KIOSK_WRAP(int, kioskUnlinkAt, "unlink", path, -1, (int dirFd, const char* path, int flags),
           (dirFd, path, flags))
KIOSK_WRAP(ssize_t, kioskWrite, "write", openPath(fd), -1, (int fd, const void* data, size_t size),
           (fd, data, size))
KIOSK_WRAP(int, kioskSystem, "system", command, -1, (const char* command), (command))
KIOSK_WRAP(FILE*, kioskPopen, "popen", command, nullptr, (const char* command, const char* mode),
           (command, mode))

int __real_kioskOpenAt(int dirFd, const char* path, int flags, mode_t mode);
int __wrap_kioskOpenAt(int dirFd, const char* path, int flags, mode_t mode) {
    if (failing("open", path))
        return -1;
    int fd = __real_kioskOpenAt(dirFd, path, flags, mode);
    std::lock_guard<std::mutex> lock(sMutex);
    if (fd >= 0)
        sOpenPaths[fd] = path;
    return fd;
}

int __real_kioskClose(int fd);
int __wrap_kioskClose(int fd) {
    // A failing close still releases the descriptor, as close(2) does.
    bool fail = failing("close", openPath(fd));
    int saved = errno;
    int result = __real_kioskClose(fd);
    std::lock_guard<std::mutex> lock(sMutex);
    sOpenPaths.erase(fd);
    errno = fail ? saved : errno;
    return fail ? -1 : result;
}
}
