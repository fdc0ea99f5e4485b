// Watches the folders of one scope stack with inotify and says which layer
// files changed. The folders may come and go: the store root, the folders
// holding the scopes and the nearest existing folder above the root are
// watched too, so a store or scope created later is picked up, and a layer
// that is a symlink is watched at its target as well.
//
//   FileWatcher watcher(stack);
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

class FileWatcher : public ChangeSource {
  public:
    explicit FileWatcher(const ScopeStack& stack);
    ~FileWatcher() override;
    FileWatcher(const FileWatcher&) = delete;
    FileWatcher& operator=(const FileWatcher&) = delete;

    // Opens the inotify instance and places the first watches. A folder that
    // does not exist yet, or cannot be read yet, is no failure: it is watched
    // once it appears or its permissions change. Running out of watches or
    // memory is.
    PAPIStatus open() override;
    int fd() const override { return mFd; }

    // Reads what the kernel queued and adds it to changes; places new watches
    // when folders or symlinked layers came or went. Never blocks.
    void process(bool readable, Changes& changes) override;

  private:
    enum class Kind {
        Ancestor,   // a folder above the store root, for the next step down
        Structure,  // the root or a folder holding scopes
        Scope,      // a scope's own folder, holding layers
        LinkTarget  // the folder of a symlinked layer's target
    };
    struct Target {
        std::string path;
        Kind kind;
        std::set<std::string> names;  // entries of interest (not for a scope)
        std::string component;        // the layer a link target stands for
    };

    PAPIStatus placeWatches();
    std::vector<Target> ancestorTargets() const;
    std::vector<Target> linkTargets();
    // Returns true when the watches need placing again.
    bool handleEvent(int wd, unsigned mask, const std::string& name, Changes& changes) const;

    std::string mRoot;
    std::vector<Target> mFixed;                   // made with the watcher
    std::vector<Target> mTargets;                 // mFixed and what placeWatches found
    std::set<std::string> mLinks;                 // layer paths that are symlinks
    std::map<int, std::vector<size_t>> mWatches;  // watch descriptor -> targets
    int mFd = -1;
};

}  // namespace vesk::legacy::store
