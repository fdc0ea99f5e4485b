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

// One walk from / down a path, level by level through descriptors. Each step
// that returns false has closed the descriptor and set the problem and errno.
class Walk {
  public:
    Walk(std::string& problem, mode_t levelMode, mode_t folderMode)
        : mProblem(problem), mLevelMode(levelMode), mFolderMode(folderMode) {}

    int run(const std::string& path, bool create) {
        if (path.empty() || path[0] != '/') {
            return fail(-1, mProblem, path + ": not an absolute path", EINVAL);
        }
        pushNames(path, mNames);
        if (!startAtRoot()) {
            return -1;
        }
        for (;;) {
            if (!trusted()) {
                return -1;
            }
            if (mNames.empty()) {
                return mFd;
            }
            const std::string name = mNames.back();
            mNames.pop_back();
            if (name == ".") {
                continue;
            }
            const std::string next = mWalked + (mWalked == "/" ? "" : "/") + name;
            struct stat entry;
            bool made = false;
            if (!lookUp(name, next, create, entry, made)) {
                return -1;
            }
            if (!made && S_ISLNK(entry.st_mode)) {
                if (!followLink(name, next, entry)) {
                    return -1;
                }
                continue;
            }
            if (!descend(name, next, made)) {
                return -1;
            }
        }
    }

  private:
    bool failed(const std::string& reason, int error) {
        fail(mFd, mProblem, reason, error);
        mFd = -1;
        return false;
    }

    bool startAtRoot() {
        if (mFd >= 0) {
            ::close(mFd);
        }
        mFd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        mWalked = "/";
        if (mFd < 0 || ::fstat(mFd, &mStatus) != 0) {
            return failed("/: " + std::string(std::strerror(errno)), errno);
        }
        return true;
    }

    // The level open now: owned by us and writable by no one else, or sticky
    // when the walk only passes through.
    bool trusted() {
        const bool sticky = (mStatus.st_mode & S_ISVTX) != 0;
        if (!TrustedFolder::ownedByUs(mStatus)) {
            return failed(
                mWalked + ": owned by another user (" + std::to_string(mStatus.st_uid) + ")",
                EPERM);
        }
        if ((mStatus.st_mode & 022) != 0 && (mNames.empty() || !sticky)) {
            return failed(mWalked + ": writable by others", EPERM);
        }
        return true;
    }

    // The mode of the level about to be made: the folder's for the last one.
    mode_t modeHere() const { return mNames.empty() ? mFolderMode : mLevelMode; }

    // The status of name in the level open now; with create, a missing level
    // is made (made tells, and entry then only says it is a folder).
    bool lookUp(const std::string& name, const std::string& next, bool create, struct stat& entry,
                bool& made) {
        if (::fstatat(mFd, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0) {
            return true;
        }
        const int error = errno;
        if (error != ENOENT || !create) {
            return failed(next + ": " + std::strerror(error), error);
        }
        made = ::mkdirat(mFd, name.c_str(), modeHere()) == 0;
        if (!made && errno != EEXIST) {
            const int mkdirError = errno;
            return failed("cannot create " + next + ": " + std::strerror(mkdirError), mkdirError);
        }
        entry.st_mode = S_IFDIR;
        return true;
    }

    // A link of ours: its target's names are walked next, from / when absolute.
    bool followLink(const std::string& name, const std::string& next, const struct stat& entry) {
        if (!TrustedFolder::ownedByUs(entry)) {
            return failed(
                next + ": a link owned by another user (" + std::to_string(entry.st_uid) + ")",
                EPERM);
        }
        std::vector<char> target(PATH_MAX + 1);
        const ssize_t size = ::readlinkat(mFd, name.c_str(), target.data(), PATH_MAX);
        if (size <= 0 || ++mLinks > kMaxLinks) {
            return failed(next + ": " + std::strerror(ELOOP), ELOOP);
        }
        const std::string text(target.data(), static_cast<size_t>(size));
        pushNames(text, mNames);
        return text[0] != '/' || startAtRoot();
    }

    bool descend(const std::string& name, const std::string& next, bool made) {
        const int child =
            ::openat(mFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(mFd);
        mFd = child;
        if (mFd < 0 || ::fstat(mFd, &mStatus) != 0) {
            return failed(next + ": " + std::strerror(mFd < 0 ? error : errno),
                          mFd < 0 ? error : errno);
        }
        // Exactly as asked, whatever the umask.
        if (made && ::fchmod(mFd, modeHere()) == 0) {
            mStatus.st_mode = S_IFDIR | modeHere();
        }
        mWalked = next;
        return true;
    }

    std::string& mProblem;
    const mode_t mLevelMode;
    const mode_t mFolderMode;
    int mFd = -1;
    std::string mWalked;
    struct stat mStatus {};
    std::vector<std::string> mNames;
    int mLinks = 0;
};

}  // namespace

bool TrustedFolder::ownedByUs(const struct stat& status) {
    return status.st_uid == 0 || status.st_uid == ::geteuid();
}

int TrustedFolder::open(const std::string& path, bool create, std::string& problem,
                        mode_t levelMode, mode_t folderMode) {
    return Walk(problem, levelMode, folderMode).run(path, create);
}

}  // namespace vesk::legacy
