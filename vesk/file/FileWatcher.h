// SPDX-License-Identifier: LGPL-2.1-or-later
// Watches the folders of one scope stack with inotify and says which layer
// files changed. The folders may come and go: the store root, the folders
// holding the scopes and the nearest existing folder above the root are
// watched too, so a store or scope created later is picked up; a layer or
// scope that is a symlink is watched on every folder its path runs through,
// so a link swapped anywhere on the way is a change; each layer file is
// watched itself, for writes through a hard link outside the store; and the
// mount table is watched, so a volume mounted over the store or a scope
// folder is seen.
// Where a watch cannot be set up (no inotify instance or watch left), it
// checks the stack every 2 s instead, until the watches can be placed.
//
//   FileWatcher watcher(stack);
//   if (watcher.open() == PAPISuccess) { poll on watcher.fd(); watcher.process(true, changes); }
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ChangeSource.h"
#include "InotifyHub.h"
#include "ScopeStack.h"
#include "papi.h"

namespace vesk::legacy::store {

class FileWatcher : public ChangeSource {
  public:
    explicit FileWatcher(const ScopeStack& stack);
    ~FileWatcher() override;
    FileWatcher(const FileWatcher&) = delete;
    FileWatcher& operator=(const FileWatcher&) = delete;

    // Places the first watches. A folder that does not exist yet, or cannot
    // be read yet, is watched once it appears or its permissions change; no
    // inotify instance or watch left means checking on a timer meanwhile.
    PAPIStatus open() override;
    int fd() const override { return mEpoll; }
    Clock::time_point wakeAt() const override;

    // Takes the events queued for this watcher and adds them to changes;
    // places new watches when folders, links or mounts came or went. Never
    // blocks.
    void process(bool readable, Changes& changes) override;

    // Changes are found by checking on a timer, not told by the kernel.
    bool polling() const override { return mPolling; }

    // How often the stack is checked while it cannot be watched.
    static constexpr std::chrono::milliseconds kPollInterval{2000};

  private:
    enum class Kind {
        Ancestor,   // a folder above the store root, for the next step down
        Structure,  // the root or a folder holding scopes
        Scope,      // a scope's own folder, holding layers
        LinkStep,   // a folder on the way to a symlinked layer or scope
        LayerFile   // a layer file itself, written through another hard link
    };
    struct Target {
        std::string path;
        Kind kind;
        std::set<std::string> names;  // entries of interest (not for a scope)
        std::string component;        // the layer a link step stands for ("": a scope)
    };

    // 0, or the errno of what could not be set up.
    int startWatching();
    void stopWatching();
    int placeWatches();
    void enterPolling(int error);
    std::vector<Target> ancestorTargets() const;
    std::vector<Target> layerTargets();
    void addLinkSteps(const std::string& link, const std::string& component,
                      std::vector<Target>& targets) const;
    bool mountsChanged();
    // Returns true when the watches need placing again.
    bool handleEvent(int wd, unsigned mask, const std::string& name, Changes& changes) const;

    std::string mRoot;
    std::vector<Target> mFixed;                   // made with the watcher
    std::vector<Target> mTargets;                 // mFixed and what placeWatches found
    std::map<int, std::vector<size_t>> mWatches;  // watch descriptor -> targets
    std::unique_ptr<InotifyHub::Subscriber> mSubscriber;
    std::shared_ptr<InotifyHub> mHub;
    int mEpoll = -1;   // the hub, this watcher's queue and the mount table
    int mMounts = -1;  // /proc/self/mountinfo
    std::string mMountTable;
    std::atomic<bool> mPolling{false};
    Clock::time_point mNextPoll;
};

}  // namespace vesk::legacy::store
