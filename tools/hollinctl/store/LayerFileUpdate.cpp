// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LayerFileUpdate.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "ExitStatus.h"
#include "TextEscape.h"
#include "output/AtomicFile.h"
#include "output/RegularFile.h"

namespace vesk::legacy::hollinctl {

namespace {

const size_t kMaxLayerFile = 64 * 1024 * 1024;

// The umask of the administrator's shell must not decide who may read
// policy: while it lives, new folders get 0755 and new files 0644.
class ReadableByAll {
  public:
    ReadableByAll() : mSaved(::umask(022)) {}
    ~ReadableByAll() { ::umask(mSaved); }
    ReadableByAll(const ReadableByAll&) = delete;
    ReadableByAll& operator=(const ReadableByAll&) = delete;

  private:
    mode_t mSaved;
};

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
    throw CommandError(kServiceError, what + " " + printable(path) + ": " + std::strerror(error));
}

}  // namespace

LayerFileUpdate::LayerFileUpdate(const std::string& store, const std::string& scope,
                                 const std::string& component) {
    const std::string folder = store + "/" + scope;
    mFileName = folder + "/" + component + ".xml";
    // An edit that gave up may remove the folder made for it while this one
    // waits for the lock: then the folder is made again.
    for (;;) {
        makeFolders(store, scope);
        mLock = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (mLock < 0) {
            fail("cannot open the folder", folder, errno);
        }
        while (::flock(mLock, LOCK_EX) != 0) {
            if (errno != EINTR) {
                fail("cannot lock the folder", folder, errno);
            }
        }
        struct stat info;
        if (::fstat(mLock, &info) == 0 && info.st_nlink > 0) {
            break;
        }
        ::close(mLock);
        mLock = -1;
    }
    struct stat info;
    if (::lstat(mFileName.c_str(), &info) == 0 || errno != ENOENT) {
        std::string problem;
        if (!readRegularFile(mFileName, kMaxLayerFile, "larger than 64 MiB", mBefore, problem)) {
            throw CommandError(kServiceError,
                               "cannot read " + printable(mFileName) + ": " + problem);
        }
    }
}

void LayerFileUpdate::makeFolders(const std::string& store, const std::string& scope) {
    const ReadableByAll readable;
    std::string path = store;
    for (const std::filesystem::path& part : std::filesystem::path(scope)) {
        path += "/" + part.string();
        if (::mkdir(path.c_str(), 0755) == 0) {
            if (mMadeFolder.empty()) {
                mMadeFolder = path;
            }
        } else if (errno != EEXIST) {
            fail("cannot make the folder", path, errno);
        }
    }
}

LayerFileUpdate::~LayerFileUpdate() {
    if (!mMadeFolder.empty()) {
        // Only what is still empty: another edit may have written there.
        std::filesystem::path path = mFileName;
        for (path = path.parent_path(); path.string().size() >= mMadeFolder.size();
             path = path.parent_path()) {
            if (::rmdir(path.c_str()) != 0) {
                break;
            }
        }
    }
    if (mLock >= 0) {
        ::close(mLock);
    }
}

void LayerFileUpdate::replace(const std::string& text) {
    const ReadableByAll readable;
    AtomicFile file(mFileName);
    if (!file.open() || !file.write(text) || !file.commit()) {
        throw CommandError(kServiceError, "cannot write " + printable(mFileName) + ": " +
                                              printable(file.getError()));
    }
    mMadeFolder.clear();
}

}  // namespace vesk::legacy::hollinctl
