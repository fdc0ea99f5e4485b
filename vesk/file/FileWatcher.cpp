#include "FileWatcher.h"

#include <dirent.h>
#include <limits.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "FileStore.h"

namespace vesk::legacy::store {

namespace {

// IN_ATTRIB: a chmod that makes a folder or layer readable or unreadable
// changes what a read gives.
const uint32_t kFolderMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
// A layer counts when it is closed after writing, and when it appears: a file
// linked into place (link, O_TMPFILE) is complete at once, and one caught
// while still being written is a failed read until its close brings another
// event.
const uint32_t kLayerFolderMask = kFolderMask | IN_CLOSE_WRITE;
const char kLayerSuffix[] = ".xml";
const size_t kLayerSuffixLength = sizeof kLayerSuffix - 1;
// Bounds one readEvents call under a steady stream; the rest waits for the next.
const int kMaxReadsPerCall = 64;
// Symlinks followed from one layer, as the kernel does when opening it.
const int kMaxLinkHops = 40;

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

bool isLayerName(const std::string& name) {
    return name.size() > kLayerSuffixLength &&
           name.compare(name.size() - kLayerSuffixLength, kLayerSuffixLength, kLayerSuffix) == 0;
}

bool isSymlink(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// A new file with nothing in it yet is being written: reading it now would
// only give a failed read. A file linked into place comes with its content.
bool justOpened(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 &&
           info.st_size == 0;
}

PAPIStatus statusOfErrno(int error) {
    switch (error) {
        case ENOMEM:
            return PAPIOutOfMemoryFailure;
        default:
            return PAPIUnknownFailure;
    }
}

}  // namespace

FileWatcher::FileWatcher(const ScopeStack& stack) : mRoot(stack.root()) {
    Target rootTarget{mRoot, Kind::Structure, {}, {}};
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
    mFixed.push_back(rootTarget);
    for (const auto& folder : folders) {
        mFixed.push_back({stack.scopePath(folder.first), Kind::Structure, folder.second, {}});
    }
    for (const std::string& scope : stack.scopes()) {
        mFixed.push_back({stack.scopePath(scope), Kind::Scope, {}, {}});
    }
}

FileWatcher::~FileWatcher() {
    if (mFd >= 0) {
        close(mFd);
    }
}

PAPIStatus FileWatcher::open() {
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

// Every symlinked layer of the stack, followed hop by hop: the folder of each
// hop is watched for that hop's name, so an edit of the target and a link
// pointed elsewhere are changes of the layer.
std::vector<FileWatcher::Target> FileWatcher::linkTargets() {
    std::vector<Target> targets;
    mLinks.clear();
    for (const Target& scope : mFixed) {
        if (scope.kind != Kind::Scope) {
            continue;
        }
        DIR* folder = opendir(scope.path.c_str());
        if (folder == nullptr) {
            continue;
        }
        while (const struct dirent* entry = readdir(folder)) {
            const std::string name = entry->d_name;
            if (!isLayerName(name) || (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)) {
                continue;
            }
            std::string hop = scope.path + "/" + name;
            if (!isSymlink(hop)) {
                continue;
            }
            mLinks.insert(hop);
            const std::string component = name.substr(0, name.size() - kLayerSuffixLength);
            for (int hops = 0; hops < kMaxLinkHops && isSymlink(hop); ++hops) {
                std::vector<char> buffer(PATH_MAX + 1);
                const ssize_t length = readlink(hop.c_str(), buffer.data(), buffer.size());
                if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) {
                    break;
                }
                const std::string next(buffer.data(), static_cast<size_t>(length));
                hop = next[0] == '/' ? next : parentOf(hop) + "/" + next;
                targets.push_back({parentOf(hop), Kind::LinkTarget, {baseOf(hop)}, component});
            }
        }
        closedir(folder);
    }
    return targets;
}

// The nearest folder above the root that can be watched, for the name of the
// next step down: a store whose parent folders are made later is still seen.
std::vector<FileWatcher::Target> FileWatcher::ancestorTargets() const {
    std::vector<Target> targets;
    for (std::string below = mRoot; below != "/";) {
        const std::string above = parentOf(below);
        targets.push_back({above, Kind::Ancestor, {baseOf(below)}, {}});
        struct stat info;
        if (stat(above.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
            access(above.c_str(), R_OK) == 0) {
            break;
        }
        below = above;
    }
    return targets;
}

PAPIStatus FileWatcher::placeWatches() {
    std::vector<Target> targets = mFixed;
    for (std::vector<Target> more : {ancestorTargets(), linkTargets()}) {
        targets.insert(targets.end(), more.begin(), more.end());
    }
    PAPIStatus status = PAPISuccess;
    std::map<int, std::vector<size_t>> watches;
    for (size_t i = 0; i < targets.size(); ++i) {
        const uint32_t mask = targets[i].kind == Kind::Scope || targets[i].kind == Kind::LinkTarget
                                  ? kLayerFolderMask
                                  : kFolderMask;
        // IN_MASK_ADD: two targets may be one folder (a symlinked scope).
        const int wd =
            inotify_add_watch(mFd, targets[i].path.c_str(), mask | IN_ONLYDIR | IN_MASK_ADD);
        if (wd >= 0) {
            watches[wd].push_back(i);
        } else if (errno != ENOENT && errno != ENOTDIR && errno != EACCES &&
                   status == PAPISuccess) {
            // A folder missing or unreadable now is watched from the one
            // holding it; out of watches or memory, changes would be lost.
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
    mTargets = std::move(targets);
    return status;
}

void FileWatcher::process(bool readable, Changes& changes) {
    if (!readable) {
        return;
    }
    alignas(struct inotify_event) char buffer[16 * 1024];
    const bool hadStructure = changes.structure;
    changes.structure = false;
    bool replace = false;
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
            } else if (handleEvent(event->wd, event->mask, name, changes)) {
                replace = true;
            }
            offset += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        }
    }
    if (changes.structure || replace) {
        // Best effort: a folder that cannot be watched now is tried again at
        // the next change of the folders around it.
        placeWatches();
    }
    changes.structure = changes.structure || hadStructure;
}

bool FileWatcher::handleEvent(int wd, unsigned mask, const std::string& name,
                              Changes& changes) const {
    const auto found = mWatches.find(wd);
    if (found == mWatches.end()) {
        return false;  // a watch already given up
    }
    bool replace = false;
    for (size_t index : found->second) {
        const Target& target = mTargets[index];
        if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
            changes.structure = true;
            continue;
        }
        switch (target.kind) {
            case Kind::Ancestor:
            case Kind::Structure:
                if (target.names.count(name) != 0) {
                    changes.structure = true;
                    changes.settling = changes.settling || (mask & (IN_DELETE | IN_MOVED_FROM));
                }
                break;
            case Kind::LinkTarget:
                if (target.names.count(name) != 0) {
                    changes.components.insert(target.component);
                    // A hop that is itself a link may now point elsewhere.
                    replace = true;
                }
                break;
            case Kind::Scope:
                if (isLayerName(name)) {
                    const std::string path = target.path + "/" + name;
                    if ((mask & IN_CREATE) && justOpened(path)) {
                        break;  // its close follows
                    }
                    changes.components.insert(name.substr(0, name.size() - kLayerSuffixLength));
                    changes.settling = changes.settling || (mask & (IN_DELETE | IN_MOVED_FROM));
                    if ((mask & (IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM)) &&
                        (mLinks.count(path) != 0 || isSymlink(path))) {
                        replace = true;
                    }
                }
                break;
        }
    }
    return replace;
}

}  // namespace vesk::legacy::store
