#include "StoreWatcher.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "LayerStore.h"

namespace vesk::legacy::store {

namespace {

const uint32_t kFolderMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
// Writers are noticed when they close, never while a file is half written.
const uint32_t kScopeMask = kFolderMask | IN_CLOSE_WRITE;
const char kLayerSuffix[] = ".xml";
const size_t kLayerSuffixLength = sizeof kLayerSuffix - 1;
// Bounds one readEvents call under a steady stream; the rest waits for the next.
const int kMaxReadsPerCall = 64;

std::string parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

PAPIStatus statusOfErrno(int error) {
    switch (error) {
        case ENOMEM:
            return PAPIOutOfMemoryFailure;
        case EACCES:
            return PAPILdbFailure;
        default:
            return PAPIUnknownFailure;
    }
}

}  // namespace

StoreWatcher::StoreWatcher(const ScopeStack& stack) {
    const std::string& root = stack.root();
    if (root != "/") {
        mTargets.push_back({parentOf(root), Kind::RootParent, {baseOf(root)}});
    }
    Target rootTarget{root, Kind::Structure, {}};
    std::map<std::string, std::set<std::string>> folders;  // "users" -> {"alice"}
    for (const std::string& scope : stack.scopes()) {
        const size_t slash = scope.find('/');
        if (slash == std::string::npos) {
            rootTarget.names.insert(scope);
        } else {
            rootTarget.names.insert(scope.substr(0, slash));
            folders[scope.substr(0, slash)].insert(scope.substr(slash + 1));
        }
    }
    mTargets.push_back(rootTarget);
    for (const auto& folder : folders) {
        mTargets.push_back({stack.scopePath(folder.first), Kind::Structure, folder.second});
    }
    for (const std::string& scope : stack.scopes()) {
        mTargets.push_back({stack.scopePath(scope), Kind::Scope, {}});
    }
}

StoreWatcher::~StoreWatcher() {
    if (mFd >= 0) {
        close(mFd);
    }
}

PAPIStatus StoreWatcher::open() {
    // Opened again after a failure: start afresh.
    if (mFd >= 0) {
        close(mFd);
        mWatches.clear();
    }
    // IN_CLOEXEC: programs started by the kiosk plug-in must not inherit it.
    mFd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (mFd < 0) {
        return statusOfErrno(errno);
    }
    return placeWatches();
}

PAPIStatus StoreWatcher::placeWatches() {
    PAPIStatus status = PAPISuccess;
    std::map<int, std::vector<size_t>> watches;
    for (size_t i = 0; i < mTargets.size(); ++i) {
        const uint32_t mask = (mTargets[i].kind == Kind::Scope ? kScopeMask : kFolderMask);
        // IN_MASK_ADD: two targets may be one folder (a symlinked scope).
        const int wd =
            inotify_add_watch(mFd, mTargets[i].path.c_str(), mask | IN_ONLYDIR | IN_MASK_ADD);
        if (wd >= 0) {
            watches[wd].push_back(i);
        } else if (errno != ENOENT && errno != ENOTDIR && status == PAPISuccess) {
            status = statusOfErrno(errno);
        }
    }
    // A watch that no longer stands for its path (folder moved away) goes.
    for (const auto& old : mWatches) {
        if (watches.find(old.first) == watches.end()) {
            inotify_rm_watch(mFd, old.first);
        }
    }
    mWatches = std::move(watches);
    return status;
}

void StoreWatcher::process(bool readable, Changes& changes) {
    if (!readable) {
        return;
    }
    alignas(struct inotify_event) char buffer[16 * 1024];
    const bool hadStructure = changes.structure;
    changes.structure = false;
    for (int reads = 0; reads < kMaxReadsPerCall; ++reads) {
        const ssize_t count = read(mFd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        for (ssize_t offset = 0;
             offset + static_cast<ssize_t>(sizeof(struct inotify_event)) <= count;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + offset);
            const std::string name =
                event->len > 0 ? std::string(event->name, strnlen(event->name, event->len))
                               : std::string();
            if (event->mask & IN_Q_OVERFLOW) {
                changes.overflow = true;
                changes.structure = true;
            } else {
                handleEvent(event->wd, event->mask, name, changes);
            }
            offset += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        }
    }
    if (changes.structure) {
        // Best effort: a folder that cannot be watched now is tried again at
        // the next change of the folders around it.
        placeWatches();
    }
    changes.structure = changes.structure || hadStructure;
}

void StoreWatcher::handleEvent(int wd, unsigned mask, const std::string& name,
                               Changes& changes) const {
    const auto found = mWatches.find(wd);
    if (found == mWatches.end()) {
        return;  // a watch already given up
    }
    for (size_t index : found->second) {
        const Target& target = mTargets[index];
        if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
            changes.structure = true;
            continue;
        }
        if (target.kind != Kind::Scope) {
            if (target.names.count(name) != 0) {
                changes.structure = true;
            }
            continue;
        }
        if (name.size() <= kLayerSuffixLength ||
            name.compare(name.size() - kLayerSuffixLength, kLayerSuffixLength, kLayerSuffix) != 0) {
            continue;
        }
        if ((mask & IN_CREATE) && !(mask & IN_ISDIR)) {
            // A new regular file is still being written; its IN_CLOSE_WRITE
            // follows. A symlink, FIFO or hard link is complete when it appears.
            struct stat info;
            const std::string path = target.path + "/" + name;
            if (lstat(path.c_str(), &info) != 0 || (S_ISREG(info.st_mode) && info.st_nlink == 1)) {
                continue;
            }
        }
        changes.components.insert(name.substr(0, name.size() - kLayerSuffixLength));
    }
}

}  // namespace vesk::legacy::store
