// SPDX-License-Identifier: LGPL-2.1-or-later
#include "access/TrustedFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace vesk::legacy {

namespace {

constexpr int kMaxLinks = 40;

// The names of a path, last first, so the next one to open is at the back.
void pushNames(const std::string& path, std::vector<std::string>& names) {
    std::vector<std::string> forward;
    for (size_t start = 0; start <= path.size();) {
        const size_t slash = std::min(path.find('/', start), path.size());
        if (slash > start) {
            forward.push_back(path.substr(start, slash - start));
        }
        start = slash + 1;
    }
    names.insert(names.end(), forward.rbegin(), forward.rend());
}

int fail(int fd, std::string& problem, const std::string& reason, int error) {
    if (fd >= 0) {
        ::close(fd);
    }
    problem = reason;
    errno = error;
    return -1;
}

}  // namespace

bool TrustedFolder::ownedByUs(const struct stat& status) {
    return status.st_uid == 0 || status.st_uid == ::geteuid();
}

int TrustedFolder::open(const std::string& path, bool create, std::string& problem,
                        mode_t levelMode, mode_t folderMode) {
    if (path.empty() || path[0] != '/') {
        return fail(-1, problem, path + ": not an absolute path", EINVAL);
    }
    std::vector<std::string> names;
    pushNames(path, names);
    int fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string walked = "/";
    struct stat status;
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        return fail(fd, problem, "/: " + std::string(std::strerror(errno)), errno);
    }
    int links = 0;
    for (;;) {
        const bool sticky = (status.st_mode & S_ISVTX) != 0;
        if (!ownedByUs(status)) {
            return fail(fd, problem,
                        walked + ": owned by another user (" + std::to_string(status.st_uid) + ")",
                        EPERM);
        }
        if ((status.st_mode & 022) != 0 && (names.empty() || !sticky)) {
            return fail(fd, problem, walked + ": writable by others", EPERM);
        }
        if (names.empty()) {
            return fd;
        }
        const std::string name = names.back();
        names.pop_back();
        if (name == ".") {
            continue;
        }
        const std::string next = walked + (walked == "/" ? "" : "/") + name;
        struct stat entry;
        bool made = false;
        if (::fstatat(fd, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            const int error = errno;
            if (error != ENOENT || !create) {
                return fail(fd, problem, next + ": " + std::strerror(error), error);
            }
            made = ::mkdirat(fd, name.c_str(), names.empty() ? folderMode : levelMode) == 0;
            if (!made && errno != EEXIST) {
                const int mkdirError = errno;
                return fail(fd, problem, "cannot create " + next + ": " + std::strerror(mkdirError),
                            mkdirError);
            }
            entry.st_mode = S_IFDIR;
        }
        if (!made && S_ISLNK(entry.st_mode)) {
            if (!ownedByUs(entry)) {
                return fail(
                    fd, problem,
                    next + ": a link owned by another user (" + std::to_string(entry.st_uid) + ")",
                    EPERM);
            }
            std::vector<char> target(PATH_MAX + 1);
            const ssize_t size = ::readlinkat(fd, name.c_str(), target.data(), PATH_MAX);
            if (size <= 0 || ++links > kMaxLinks) {
                return fail(fd, problem, next + ": " + std::strerror(ELOOP), ELOOP);
            }
            const std::string text(target.data(), static_cast<size_t>(size));
            pushNames(text, names);
            if (text[0] == '/') {
                ::close(fd);
                fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                walked = "/";
                if (fd < 0 || ::fstat(fd, &status) != 0) {
                    return fail(fd, problem, "/: " + std::string(std::strerror(errno)), errno);
                }
            }
            continue;
        }
        const int child =
            ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        fd = child;
        if (fd < 0 || ::fstat(fd, &status) != 0) {
            return fail(fd, problem, next + ": " + std::strerror(fd < 0 ? error : errno),
                        fd < 0 ? error : errno);
        }
        // Exactly as asked, whatever the umask.
        if (made && ::fchmod(fd, names.empty() ? folderMode : levelMode) == 0) {
            status.st_mode = S_IFDIR | (names.empty() ? folderMode : levelMode);
        }
        walked = next;
    }
}

}  // namespace vesk::legacy
