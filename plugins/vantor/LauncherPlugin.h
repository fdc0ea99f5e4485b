// Keeps the user's desktop folder in step with the configured launcher list:
// writes one desktop entry file per launcher, then listens to the list and
// rewrites the whole set after every change. Hosts drive it through the entry
// points of LauncherEntryPoints.h.
//
//   LauncherPlugin plugin(0, nullptr);  // $HOME/Desktop/
//   plugin.execute();                   // write now, then keep writing on changes
//   ...                                 // destruction stops listening; files stay
#pragma once

#include <atomic>
#include <mutex>
#include <set>
#include <string>

#include "change/INodeListener.h"
#include "model/NodePath.h"

namespace vesk::legacy {
class ConfigurationAccess;
}

namespace vesk::legacy::plugins::launchers {

class LauncherPlugin : public INodeListener {
  public:
    // Writes to $HOME/Desktop/.
    LauncherPlugin();
    // Writes to argv[0] when argc > 0 and it is not empty (a "/" is added when
    // it lacks one), else to $HOME/Desktop/.
    LauncherPlugin(int argc, const char* const* argv);
    // The same, reading and listening through access (not owned) instead of
    // ConfigurationAccess::defaultInstance().
    LauncherPlugin(int argc, const char* const* argv, ConfigurationAccess* access);
    // Stops listening; once it returns no rewrite runs or starts. Never throws.
    ~LauncherPlugin() override;

    LauncherPlugin(const LauncherPlugin&) = delete;
    LauncherPlugin& operator=(const LauncherPlugin&) = delete;

    // The first full write, then listening. Throws what registering throws
    // (the files are written by then). Later calls change nothing.
    void execute();

    // A change of the list itself rewrites; the reports of the nodes below it
    // come first in the same change and only log, so one change gives one
    // rewrite.
    void onNodeAdded(const NodePath& path) override;
    void onNodeRemoved(const NodePath& path) override;
    void onNodeChanged(const NodePath& path) override;

    // Rewrites every launcher from the current configuration: the new set is
    // written first, then the launcher files not in it are deleted. When the
    // configuration cannot be read the files stay as they are. Logs failures;
    // never throws Exception. One rewrite at a time.
    // Runs from execute before listening starts and from notifications, where
    // the facade keeps the tree being read alive. Called on another thread
    // while listening it could read a tree that a change is replacing.
    void onChange();
    // Deletes the launcher files (names starting with "MERX") of the folder
    // except those named in keep.
    void removeLaunchers(const std::set<std::string>& keep = std::set<std::string>());
    // The desktop folder that user-dirs.dirs names (a German session's
    // $HOME/Schreibtisch/), else $HOME/Desktop/ ("/Desktop/" for a HOME of
    // "/"); empty, so that nothing is written, when HOME is unset, empty or
    // relative.
    void setDefaultBaseDir();
    void addListener();
    void removeListener();

    const std::string& getBaseDir() const { return mBaseDir; }
    // Rewrites started so far, including those that failed.
    unsigned long getRewriteCount() const { return mRewrites; }

  private:
    enum Kind { Added, Removed, Changed };

    ConfigurationAccess& access() const;
    void notified(Kind kind, const char* format, const NodePath& path);
    // The caller holds mRewriteMutex.
    void rewrite();

    std::string mBaseDir;
    ConfigurationAccess* mAccess;  // null: the default facade
    NodePath mListPath;
    std::mutex mRewriteMutex;
    std::atomic<bool> mStopped;
    bool mListening;
    // The last rewrite came from the removal of the list itself, which is
    // reported once more when the removal closes; guarded by mRewriteMutex.
    bool mListRemovalOpen;
    std::atomic<unsigned long> mRewrites;
};

}  // namespace vesk::legacy::plugins::launchers
