// SPDX-License-Identifier: LGPL-2.1-or-later
#include "output/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
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
// Between the target's name and the writer's process id in a temporary name.
constexpr char kTemporaryMark[] = ".tmp";
// The bits a written file never carries, whatever it replaces.
constexpr mode_t kNeverSet = S_ISUID | S_ISGID | S_ISVTX | S_IWGRP | S_IWOTH;

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
        FileSystemCalls::sCurrent.mSync(fd);
        ::close(fd);
    }
}

// The process id in a temporary name "<stem><pid>.<counter>", or 0 when
// name is no temporary name of stem.
pid_t writerOf(const std::string& name, const std::string& stem) {
    if (name.compare(0, stem.size(), stem) != 0) {
        return 0;
    }
    const size_t dot = name.find('.', stem.size());
    if (dot == std::string::npos || dot == stem.size() || dot + 1 == name.size() ||
        name.find_first_not_of("0123456789", stem.size()) != dot ||
        name.find_first_not_of("0123456789", dot + 1) != std::string::npos ||
        dot - stem.size() > 9) {
        return 0;
    }
    return static_cast<pid_t>(std::stol(name.substr(stem.size(), dot - stem.size())));
}

}  // namespace

AtomicFile::AtomicFile(const std::string& fileName, mode_t newFileMode, Links links)
    : mFileName(fileName), mNewFileMode(newFileMode), mLinks(links), mFd(-1) {}

mode_t AtomicFile::safeMode(mode_t previous) {
    return previous & 07777 & ~kNeverSet;
}

AtomicFile::~AtomicFile() {
    discard();
}

bool AtomicFile::fail(const std::string& what, int error) {
    mErrorNumber = error;
    mError = error != 0 ? what + ": " + systemError(error) : what;
    discard();
    return false;
}

bool AtomicFile::resolveTarget() {
    std::string path = mFileName;
    for (int links = 0; mLinks == Links::Follow; ++links) {
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
    mErrorNumber = 0;
    mBuffer.clear();
    if (mFileName.empty() || baseOf(mFileName).empty()) {
        return fail("not a file name: \"" + mFileName + "\"", 0);
    }
    if (!resolveTarget()) {
        return false;
    }
    // lstat: the mode comes from the file being replaced, never through a
    // link (which Links::Follow has resolved already, and Links::Replace
    // replaces as it would any other entry).
    struct stat existing;
    const bool exists = ::lstat(mTarget.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT) {
        return fail("cannot examine " + mTarget, errno);
    }
    if (exists && mLinks == Links::Refuse) {
        return fail("cannot create " + mTarget, EEXIST);
    }
    const bool replacesFile = exists && S_ISREG(existing.st_mode);
    if (exists && !replacesFile && !S_ISLNK(existing.st_mode)) {
        return fail(mTarget + " is not a regular file", 0);
    }

    static std::atomic<unsigned> sCounter{0};
    const std::string stem = "." + baseOf(mTarget).substr(0, kMaxBaseLength) + kTemporaryMark;
    removeLeftovers(stem);
    const FileSystemCalls& calls = FileSystemCalls::sCurrent;
    for (int attempt = 0; mFd < 0; ++attempt) {
        std::string candidate = directoryOf(mTarget) + "/" + stem + std::to_string(::getpid()) +
                                "." + std::to_string(sCounter++);
        // The umask narrows the mode of a new file further.
        mFd = calls.mOpen(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          safeMode(mNewFileMode));
        if (mFd >= 0) {
            mTemporary = candidate;
        } else if (errno != EEXIST || attempt == 100) {
            return fail("cannot create " + candidate, errno);
        }
    }
    if (replacesFile) {
        // Keep the owner where we may (best effort: only root can give files
        // away), then the mode, which fchown may have cut.
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
            if (::fchown(mFd, existing.st_uid, existing.st_gid) != 0) {
                // Not allowed: the new file is ours, as any new file would be.
            }
        }
        if (calls.mChmod(mFd, safeMode(existing.st_mode)) != 0) {
            return fail("cannot set the mode of " + mTemporary, errno);
        }
    }
    return true;
}

// Temporaries of this file whose writer is gone: a writer killed between
// creating and renaming leaves one behind. A live writer's temporary (its
// process still exists, or belongs to someone we may not signal) stays.
void AtomicFile::removeLeftovers(const std::string& stem) const {
    const std::string directory = directoryOf(mTarget);
    DIR* entries = ::opendir(directory.c_str());
    if (entries == nullptr) {
        return;  // creating the temporary file reports what is wrong
    }
    std::vector<std::string> gone;
    while (const struct dirent* entry = ::readdir(entries)) {
        const pid_t writer = writerOf(entry->d_name, stem);
        if (writer > 0 && writer != ::getpid() && ::kill(writer, 0) != 0 && errno == ESRCH) {
            gone.push_back(directory + "/" + entry->d_name);
        }
    }
    ::closedir(entries);
    for (const std::string& path : gone) {
        FileSystemCalls::sCurrent.mUnlink(path.c_str());
    }
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
