#include "SystemFaults.h"

#include <errno.h>
#include <unistd.h>

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
    char path[4096];
    const ssize_t length =
        readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
    return length > 0 ? std::string(path, length) : std::string();
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
#define KIOSK_WRAP(type, name, call, key, params, args)      \
    type __real_##name params;                               \
    type __wrap_##name params {                              \
        return failing(call, key) ? -1 : __real_##name args; \
    }

extern "C" {
KIOSK_WRAP(int, kioskRename, "rename", std::string(from) + " -> " + to,
           (const char* from, const char* to), (from, to))
KIOSK_WRAP(int, kioskMkdir, "mkdir", path, (const char* path, mode_t mode), (path, mode))
KIOSK_WRAP(int, kioskChown, "chown", path, (const char* path, uid_t owner, gid_t group),
           (path, owner, group))
KIOSK_WRAP(int, kioskChmod, "chmod", path, (const char* path, mode_t mode), (path, mode))
KIOSK_WRAP(int, kioskOpenAt, "open", path, (int dirFd, const char* path, int flags, mode_t mode),
           (dirFd, path, flags, mode))
KIOSK_WRAP(int, kioskUnlinkAt, "unlink", path, (int dirFd, const char* path, int flags),
           (dirFd, path, flags))
KIOSK_WRAP(ssize_t, kioskWrite, "write", openPath(fd), (int fd, const void* data, size_t size),
           (fd, data, size))
KIOSK_WRAP(int, kioskSystem, "system", command, (const char* command), (command))

int __real_kioskClose(int fd);
int __wrap_kioskClose(int fd) {
    // A failing close still releases the descriptor, as close(2) does.
    const bool fail = failing("close", openPath(fd));
    const int error = errno;
    const int result = __real_kioskClose(fd);
    errno = fail ? error : errno;
    return fail ? -1 : result;
}
}
