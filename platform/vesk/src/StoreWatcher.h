// Watches the folders of one scope stack with inotify and says which layer
// files changed. The folders may come and go: the store root, the folders
// holding the scopes and the root's own parent are watched too, so a scope
// created later is picked up.
//
//   StoreWatcher watcher(stack);
//   if (watcher.open() == PAPISuccess) { poll on watcher.fd(); watcher.process(true, changes); }
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "ChangeSource.h"
#include "ScopeStack.h"
#include "papi.h"

namespace vesk::legacy::store {

class StoreWatcher : public ChangeSource {
  public:
    explicit StoreWatcher(const ScopeStack& stack);
    ~StoreWatcher() override;
    StoreWatcher(const StoreWatcher&) = delete;
    StoreWatcher& operator=(const StoreWatcher&) = delete;

    // Opens the inotify instance and places the first watches. A folder that
    // does not exist yet is no failure; one that cannot be watched is.
    PAPIStatus open() override;
    int fd() const override { return mFd; }

    // Reads what the kernel queued and adds it to changes; places new watches
    // when folders came or went. Never blocks.
    void process(bool readable, Changes& changes) override;

  private:
    enum class Kind { RootParent, Structure, Scope };
    struct Target {
        std::string path;
        Kind kind;
        std::set<std::string> names;  // entries of interest in a structure folder
    };

    PAPIStatus placeWatches();
    void handleEvent(int wd, unsigned mask, const std::string& name, Changes& changes) const;

    std::vector<Target> mTargets;
    std::map<int, std::vector<size_t>> mWatches;  // watch descriptor -> targets
    int mFd = -1;
};

}  // namespace vesk::legacy::store
