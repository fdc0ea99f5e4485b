// SPDX-License-Identifier: LGPL-2.1-or-later
#include "FileWatcher.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <system_error>

#include "FileStore.h"
#include "SystemLog.h"

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
// A layer file's own watch: its removal and renames are the folder's to tell.
const uint32_t kLayerFileMask = IN_CLOSE_WRITE | IN_ATTRIB;
const char kLayerSuffix[] = ".xml";
const size_t kLayerSuffixLength = sizeof kLayerSuffix - 1;
// Symlinks followed from one layer, as the kernel does when opening it.
const int kMaxLinkHops = 40;
// A mount table larger than this is compared by its first part only.
const size_t kMaxMountTable = 4 * 1024 * 1024;

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

// Why no watch could be set up, for the administrator who can mend it.
std::string pollingCause(int error) {
    if (error == ENOSPC) {
        return "the user's inotify watches are used up (sysctl fs.inotify.max_user_watches "
               "raises the limit)";
    }
    if (error == EMFILE) {
        // EMFILE is also the process's own descriptor limit.
        const int probe = eventfd(0, EFD_CLOEXEC);
        if (probe >= 0) {
            close(probe);
            return "the user's inotify instances are used up (sysctl "
                   "fs.inotify.max_user_instances raises the limit)";
        }
    }
    char buffer[256];
    return std::string("inotify cannot be used: ") + strerror_r(error, buffer, sizeof buffer);
}

std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t slash = std::min(path.find('/', start), path.size());
        if (slash > start) {
            parts.push_back(path.substr(start, slash - start));
        }
        start = slash + 1;
    }
    return parts;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
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
    stopWatching();
    if (mMounts >= 0) {
        close(mMounts);
    }
}

PAPIStatus FileWatcher::open() {
    // Opened again after a failure: start afresh.
    stopWatching();
    mPolling = false;
    if (mMounts < 0) {
        mMounts = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        mountsChanged();
    }
    const int error = startWatching();
    if (error != 0) {
        enterPolling(error);
    }
    return PAPISuccess;
}

void FileWatcher::stopWatching() {
    mWatches.clear();
    mSubscriber.reset();  // gives its watches back
    mHub.reset();
    if (mEpoll >= 0) {
        close(mEpoll);
        mEpoll = -1;
    }
}

int FileWatcher::startWatching() {
    if (!mSubscriber) {
        int error = 0;
        std::shared_ptr<InotifyHub> hub = InotifyHub::acquire(error);
        if (!hub) {
            return error;
        }
        const int epoll = epoll_create1(EPOLL_CLOEXEC);
        if (epoll < 0) {
            return errno;
        }
        try {
            mSubscriber = std::make_unique<InotifyHub::Subscriber>(hub);
        } catch (const std::system_error& failure) {
            close(epoll);
            return failure.code().value();
        }
        // The mount table signals a change as a priority event.
        const struct {
            int fd;
            uint32_t events;
        } sources[] = {{hub->fd(), EPOLLIN}, {mSubscriber->fd(), EPOLLIN}, {mMounts, EPOLLPRI}};
        for (const auto& source : sources) {
            struct epoll_event event = {};
            event.events = source.events;
            event.data.fd = source.fd;
            if (source.fd >= 0 && epoll_ctl(epoll, EPOLL_CTL_ADD, source.fd, &event) != 0) {
                const int error = errno;
                close(epoll);
                mSubscriber.reset();
                return error;
            }
        }
        mHub = std::move(hub);
        mEpoll = epoll;
    }
    return placeWatches();
}

void FileWatcher::enterPolling(int error) {
    if (!mPolling) {
        SystemLog::warning(
            (pollingCause(error) + "; checking the store for changes every 2 s instead:").c_str(),
            mRoot);
    }
    mPolling = true;
    mNextPoll = Clock::now() + kPollInterval;
}

FileWatcher::Clock::time_point FileWatcher::wakeAt() const {
    return mPolling ? mNextPoll : Clock::time_point::max();
}

// Compared as text: the kernel's notice of a change is taken by whoever polls
// first, and the poll of the descriptor waiting on it comes before us.
bool FileWatcher::mountsChanged() {
    if (mMounts < 0 || lseek(mMounts, 0, SEEK_SET) != 0) {
        return false;
    }
    std::string table;
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t count = read(mMounts, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0 || table.size() >= kMaxMountTable) {
            break;
        }
        table.append(buffer, static_cast<size_t>(count));
    }
    if (table == mMountTable) {
        return false;
    }
    mMountTable = std::move(table);
    return true;
}

// Every layer file of the stack, and every symlinked layer and scope,
// resolved step by step.
std::vector<FileWatcher::Target> FileWatcher::layerTargets() {
    std::vector<Target> targets;
    for (const Target& scope : mFixed) {
        if (scope.kind != Kind::Scope) {
            continue;
        }
        if (isSymlink(scope.path)) {
            addLinkSteps(scope.path, std::string(), targets);
        }
        DIR* folder = opendir(scope.path.c_str());
        if (folder == nullptr) {
            continue;
        }
        while (const struct dirent* entry = readdir(folder)) {
            const std::string name = entry->d_name;
            if (!isLayerName(name)) {
                continue;
            }
            const std::string layer = scope.path + "/" + name;
            const std::string component = name.substr(0, name.size() - kLayerSuffixLength);
            if (isSymlink(layer)) {
                addLinkSteps(layer, component, targets);
            } else if (entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN) {
                // A write through a hard link elsewhere is told only to the
                // file's own watch, not to this folder's.
                targets.push_back({layer, Kind::LayerFile, {}, component});
            }
        }
        closedir(folder);
    }
    return targets;
}

// Resolves the link as the kernel does when opening it, and watches the
// folder of every step for that step's name: an edit of the target, a link
// pointed elsewhere, a symlinked folder on the way swapped for another
// (ln -s rel2 current.new && mv -T current.new current) and a folder on the
// way moved off and made again are all changes of the layer.
void FileWatcher::addLinkSteps(const std::string& link, const std::string& component,
                               std::vector<Target>& targets) const {
    std::string folder = parentOf(link);
    std::deque<std::string> rest{baseOf(link)};
    int hops = 0;
    while (!rest.empty()) {
        const std::string name = rest.front();
        rest.pop_front();
        if (name == ".") {
            continue;
        }
        if (name == "..") {
            folder = parentOf(folder);
            continue;
        }
        targets.push_back({folder, Kind::LinkStep, {name}, component});
        const std::string path = joinPath(folder, name);
        if (!isSymlink(path)) {
            folder = path;
            continue;
        }
        std::vector<char> buffer(PATH_MAX + 1);
        const ssize_t length = readlink(path.c_str(), buffer.data(), buffer.size());
        if (++hops > kMaxLinkHops || length <= 0 || static_cast<size_t>(length) >= buffer.size()) {
            break;
        }
        const std::string next(buffer.data(), static_cast<size_t>(length));
        const std::vector<std::string> parts = splitPath(next);
        rest.insert(rest.begin(), parts.begin(), parts.end());
        if (next[0] == '/') {
            folder = "/";
        }
    }
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

int FileWatcher::placeWatches() {
    if (!mSubscriber) {
        return EBADF;
    }
    std::vector<Target> targets = mFixed;
    for (std::vector<Target> more : {ancestorTargets(), layerTargets()}) {
        targets.insert(targets.end(), more.begin(), more.end());
    }
    int error = 0;
    std::map<int, std::vector<size_t>> watches;
    for (size_t i = 0; i < targets.size(); ++i) {
        const Kind kind = targets[i].kind;
        const uint32_t mask = kind == Kind::LayerFile ? kLayerFileMask
                              : kind == Kind::Scope || kind == Kind::LinkStep
                                  ? kLayerFolderMask | IN_ONLYDIR
                                  : kFolderMask | IN_ONLYDIR;
        const int wd = mSubscriber->addWatch(targets[i].path, mask);
        if (wd >= 0) {
            watches[wd].push_back(i);
        } else if (errno != ENOENT && errno != ENOTDIR && errno != EACCES && error == 0) {
            // A folder missing or unreadable now is watched from the one
            // holding it; out of watches or memory, changes would be lost.
            error = errno;
        }
    }
    // A watch that no longer stands for its path (folder moved away) goes.
    for (const auto& old : mWatches) {
        if (watches.find(old.first) == watches.end()) {
            mSubscriber->removeWatch(old.first);
        }
    }
    mWatches = std::move(watches);
    mTargets = std::move(targets);
    return error;
}

void FileWatcher::process(bool readable, Changes& changes) {
    const bool hadStructure = changes.structure;
    changes.structure = false;
    bool replace = false;
    if (readable && mSubscriber) {
        mHub->drain();
        for (const InotifyHub::Event& event : mSubscriber->take()) {
            if (event.mask & IN_Q_OVERFLOW) {
                changes.overflow = true;
                changes.structure = true;
            } else if (handleEvent(event.wd, event.mask, event.name, changes)) {
                replace = true;
            }
        }
    }
    // A volume mounted or unmounted over the store or a scope folder: the
    // watches stand on the folders it covered or uncovered.
    if (readable && mountsChanged()) {
        changes.structure = true;
    }
    if (mPolling && Clock::now() >= mNextPoll) {
        // Every component's layers are compared with what was seen last.
        changes.structure = true;
        const int error = startWatching();
        if (error == 0) {
            mPolling = false;
        } else {
            mNextPoll = Clock::now() + kPollInterval;
        }
    } else if (changes.structure || replace) {
        const int error = placeWatches();
        if (error != 0) {
            enterPolling(error);
        }
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
        if (target.kind == Kind::LayerFile) {
            if (mask & (IN_CLOSE_WRITE | IN_ATTRIB)) {
                changes.components.insert(target.component);
            }
            continue;
        }
        if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
            changes.structure = true;
            continue;
        }
        switch (target.kind) {
            case Kind::LayerFile:
            case Kind::Ancestor:
            case Kind::Structure:
                if (target.names.count(name) != 0) {
                    changes.structure = true;
                    changes.settling = changes.settling || (mask & (IN_DELETE | IN_MOVED_FROM));
                }
                break;
            case Kind::LinkStep:
                if (target.names.count(name) != 0) {
                    if (target.component.empty()) {
                        changes.structure = true;  // a symlinked scope: every component
                    } else {
                        changes.components.insert(target.component);
                    }
                    changes.settling = changes.settling || (mask & (IN_DELETE | IN_MOVED_FROM));
                    // A step that is itself a link may now point elsewhere.
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
                    // A layer that came, went or became readable: its own
                    // watch, or its link's steps.
                    replace =
                        replace ||
                        (mask & (IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ATTRIB));
                }
                break;
        }
    }
    return replace;
}

}  // namespace vesk::legacy::store
