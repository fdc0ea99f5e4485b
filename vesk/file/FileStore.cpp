// SPDX-License-Identifier: LGPL-2.1-or-later
#include "FileStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "FailureDetail.h"
#include "FileWatcher.h"

namespace vesk::legacy::store {

namespace {

const char kLayerSuffix[] = ".xml";
const size_t kLayerSuffixLength = sizeof kLayerSuffix - 1;

// Closes a descriptor on every way out.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : mFd(fd) {}
    ~FileDescriptor() {
        if (mFd >= 0) {
            close(mFd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return mFd; }

  private:
    int mFd;
};

// Something stands at the path, if only a symlink to nothing.
bool present(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

}  // namespace

PAPIStatus FileStore::readLayers(const std::string& component, std::vector<Layer>& layers) {
    if (!ScopeStack::isValidName(component)) {
        return FailureDetail::fail(PAPIInvalidArg, "\"" + component + "\" cannot name a component");
    }
    if (!mStack->rootAccessible()) {
        return PAPIConnectionFailure;
    }
    std::vector<Layer> read;
    for (const std::string& scope : mStack->scopes()) {
        const PAPIStatus status = readLayer(scope, component, read);
        if (status != PAPISuccess) {
            return status;
        }
    }
    // A store removed while we read looks like missing layers; an empty answer
    // would tell the caller that all its policy is gone.
    if (!mStack->rootAccessible()) {
        return PAPIConnectionFailure;
    }
    layers = std::move(read);
    return PAPISuccess;
}

PAPIStatus FileStore::readLayer(const std::string& scope, const std::string& component,
                                std::vector<Layer>& layers) const {
    const std::string path = mStack->scopePath(scope) + "/" + layerFileName(component);
    // O_NONBLOCK: a FIFO put in place of a layer must not hang the reader.
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) {
        // Only a missing file means "no layer here"; EACCES, ENOTDIR, a
        // dangling symlink and the rest would silently drop policy.
        const int error = errno;
        if (error == ENOENT && !present(path)) {
            return PAPISuccess;
        }
        return FailureDetail::failWithErrno(
            PAPILdbFailure, path + (error == ENOENT ? " (a link to nothing)" : ""), error);
    }
    struct stat info;
    if (fstat(file.get(), &info) != 0) {
        return FailureDetail::failWithErrno(PAPILdbFailure, path, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return FailureDetail::fail(PAPILdbFailure, path + ": not a regular file");
    }
    if (info.st_size > kMaxLayerSize) {
        return FailureDetail::fail(PAPILdbFailure, path + ": larger than 64 MiB");
    }
    // Read straight into the layer; one byte of room beyond the size seen
    // tells a file that grew while we read it.
    Layer layer;
    const size_t limit = static_cast<size_t>(kMaxLayerSize);
    layer.data.resize(static_cast<size_t>(info.st_size) + 1);
    size_t used = 0;
    for (;;) {
        if (used == layer.data.size()) {
            if (used > limit) {
                return FailureDetail::fail(PAPILdbFailure, path + ": larger than 64 MiB");
            }
            layer.data.resize(std::min(layer.data.size() * 2, limit + 1));
        }
        const ssize_t count = read(file.get(), &layer.data[used], layer.data.size() - used);
        if (count == 0) {
            break;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return FailureDetail::failWithErrno(PAPILdbFailure, path, errno);
        }
        used += static_cast<size_t>(count);
    }
    if (used > limit) {
        return FailureDetail::fail(PAPILdbFailure, path + ": larger than 64 MiB");
    }
    layer.data.resize(used);
    layer.stamp = scope + " " + std::to_string(static_cast<long long>(info.st_mtime));
    layers.push_back(std::move(layer));
    return PAPISuccess;
}

PAPIStatus FileStore::listComponentNames(const std::string& selector,
                                         std::vector<std::string>& names) {
    if (!mStack->rootAccessible()) {
        return PAPIConnectionFailure;
    }
    std::set<std::string> found;
    for (const std::string& scope : mStack->scopes()) {
        DIR* folder = opendir(mStack->scopePath(scope).c_str());
        if (folder == nullptr) {
            if (errno == ENOENT) {
                continue;
            }
            return FailureDetail::failWithErrno(PAPILdbFailure, mStack->scopePath(scope), errno);
        }
        while (const struct dirent* entry = readdir(folder)) {
            const std::string name = entry->d_name;
            if (name.size() <= kLayerSuffixLength ||
                name.compare(name.size() - kLayerSuffixLength, kLayerSuffixLength, kLayerSuffix) !=
                    0) {
                continue;
            }
            const std::string component = name.substr(0, name.size() - kLayerSuffixLength);
            if (ScopeStack::isValidName(component) &&
                component.compare(0, selector.size(), selector) == 0) {
                found.insert(component);
            }
        }
        closedir(folder);
    }
    if (!mStack->rootAccessible()) {
        return PAPIConnectionFailure;
    }
    names.assign(found.begin(), found.end());
    return PAPISuccess;
}

Backend::Presence FileStore::presence(const std::string& component) {
    Presence result;
    result.unreachable = !mStack->rootAccessible();
    for (const std::string& scope : mStack->scopes()) {
        const std::string path = mStack->scopePath(scope) + "/" + layerFileName(component);
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            const int error = errno;
            if (error == ENOENT && !present(path)) {
                result.fingerprint.emplace_back();
                continue;
            }
            // Present but unreadable: reading it reports the error.
            result.hasLayers = true;
            result.fingerprint.push_back("error " + std::to_string(error));
            continue;
        }
        result.hasLayers = true;
        result.fingerprint.push_back(
            std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" +
            std::to_string(info.st_mode) + ":" + std::to_string(info.st_size) + ":" +
            std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec) + ":" +
            std::to_string(info.st_ctim.tv_sec) + "." + std::to_string(info.st_ctim.tv_nsec));
    }
    return result;
}

std::unique_ptr<ChangeSource> FileStore::makeChangeSource() {
    return std::make_unique<FileWatcher>(*mStack);
}

}  // namespace vesk::legacy::store
