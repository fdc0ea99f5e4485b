#include "output/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <system_error>
#include <vector>

#include "output/FileSystemCalls.h"

namespace vesk::legacy {

namespace {

// Bytes collected before they go to the file; also the largest single write.
constexpr size_t kBufferSize = 64 * 1024;
// As many links as the kernel itself follows before giving up.
constexpr int kMaxLinks = 40;
// Room left in a file name for the temporary suffix, within NAME_MAX (255).
constexpr size_t kMaxBaseLength = 200;

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string systemError(int error) {
    return std::error_code(error, std::generic_category()).message();
}

// Durability of the rename itself; a failure here loses nothing that a
// failed write would not, so it is not reported.
void syncDirectory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

AtomicFile::AtomicFile(const std::string& fileName) : mFileName(fileName), mFd(-1) {}

AtomicFile::~AtomicFile() {
    discard();
}

bool AtomicFile::fail(const std::string& what, int error) {
    mError = error != 0 ? what + ": " + systemError(error) : what;
    discard();
    return false;
}

bool AtomicFile::resolveTarget() {
    std::string path = mFileName;
    for (int links = 0;; ++links) {
        struct stat status;
        if (::lstat(path.c_str(), &status) != 0) {
            if (errno == ENOENT) {
                break;  // a new file, or a link to one not yet there
            }
            return fail("cannot examine " + path, errno);
        }
        if (!S_ISLNK(status.st_mode)) {
            break;
        }
        if (links == kMaxLinks) {
            return fail("cannot follow " + mFileName, ELOOP);
        }
        std::vector<char> link(static_cast<size_t>(status.st_size) + 1);
        const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
        if (length < 0) {
            return fail("cannot read link " + path, errno);
        }
        if (static_cast<size_t>(length) >= link.size()) {
            return fail("link changed while reading it: " + path, 0);
        }
        const std::string to(link.data(), static_cast<size_t>(length));
        path = (!to.empty() && to[0] == '/') ? to : directoryOf(path) + "/" + to;
    }
    mTarget = path;
    return true;
}

bool AtomicFile::open() {
    if (isOpen()) {
        return true;
    }
    mError.clear();
    mBuffer.clear();
    if (mFileName.empty() || baseOf(mFileName).empty()) {
        return fail("not a file name: \"" + mFileName + "\"", 0);
    }
    if (!resolveTarget()) {
        return false;
    }
    struct stat existing;
    const bool exists = ::stat(mTarget.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT) {
        return fail("cannot examine " + mTarget, errno);
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        return fail(mTarget + " is not a regular file", 0);
    }

    static std::atomic<unsigned> sCounter{0};
    const std::string stem =
        directoryOf(mTarget) + "/." + baseOf(mTarget).substr(0, kMaxBaseLength) + ".tmp";
    const FileSystemCalls& calls = FileSystemCalls::sCurrent;
    for (int attempt = 0; mFd < 0; ++attempt) {
        std::string candidate =
            stem + std::to_string(::getpid()) + "." + std::to_string(sCounter++);
        // 0666 lets the file-creation mask decide the mode of a new file.
        mFd = calls.mOpen(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (mFd >= 0) {
            mTemporary = candidate;
        } else if (errno != EEXIST || attempt == 100) {
            return fail("cannot create " + candidate, errno);
        }
    }
    if (exists) {
        // Keep the owner where we may (best effort: only root can give files
        // away), then the mode, which fchown may have cut.
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
            if (::fchown(mFd, existing.st_uid, existing.st_gid) != 0) {
                // Not allowed: the new file is ours, as any new file would be.
            }
        }
        if (calls.mChmod(mFd, existing.st_mode & 07777) != 0) {
            return fail("cannot set the mode of " + mTemporary, errno);
        }
    }
    return true;
}

bool AtomicFile::write(const std::string& bytes) {
    if (!isOpen()) {
        return false;
    }
    mBuffer += bytes;
    return mBuffer.size() < kBufferSize || flush();
}

bool AtomicFile::flush() {
    const FileSystemCalls& calls = FileSystemCalls::sCurrent;
    size_t done = 0;
    while (done < mBuffer.size()) {
        const size_t chunk = std::min(mBuffer.size() - done, kBufferSize);
        const ssize_t written = calls.mWrite(mFd, mBuffer.data() + done, chunk);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return fail("cannot write " + mTemporary, written < 0 ? errno : ENOSPC);
        }
        done += static_cast<size_t>(written);
    }
    mBuffer.clear();
    return true;
}

bool AtomicFile::commit() {
    if (!isOpen()) {
        if (mError.empty()) {
            mError = "not open";
        }
        return false;
    }
    if (!flush()) {
        return false;
    }
    const FileSystemCalls& calls = FileSystemCalls::sCurrent;
    if (calls.mSync(mFd) != 0) {
        return fail("cannot flush " + mTemporary + " to disk", errno);
    }
    const int fd = mFd;
    mFd = -1;  // closed even when close reports an error
    if (calls.mClose(fd) != 0) {
        return fail("cannot close " + mTemporary, errno);
    }
    if (calls.mRename(mTemporary.c_str(), mTarget.c_str()) != 0) {
        return fail("cannot rename " + mTemporary + " to " + mTarget, errno);
    }
    mTemporary.clear();
    syncDirectory(directoryOf(mTarget));
    return true;
}

void AtomicFile::discard() {
    const FileSystemCalls& calls = FileSystemCalls::sCurrent;
    if (mFd >= 0) {
        calls.mClose(mFd);
        mFd = -1;
    }
    if (!mTemporary.empty()) {
        calls.mUnlink(mTemporary.c_str());
        mTemporary.clear();
    }
    mBuffer.clear();
}

}  // namespace vesk::legacy
