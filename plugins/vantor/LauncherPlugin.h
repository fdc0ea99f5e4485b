// SPDX-License-Identifier: LGPL-2.1-or-later
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
#include <set>
#include <string>

#include "RetryScheduler.h"
#include "change/INodeListener.h"
#include "model/NodePath.h"

namespace vesk::legacy {
class ConfigurationAccess;
class Node;
}  // namespace vesk::legacy

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

    // Listening, then the first full write. Throws what registering throws
    // (the files are written by then). Later calls change nothing.
    void execute();

    // The node calls only log; the end of the change rewrites, so one change
    // gives one rewrite however many launchers it touches.
    void onNodeAdded(const NodePath& path) override;
    void onNodeRemoved(const NodePath& path) override;
    void onNodeChanged(const NodePath& path) override;
    void onChangeComplete() override;
    void onChangeCompleteWith(const ChangeOutcome& outcome) override;

    // Rewrites every launcher from the current configuration: the new set is
    // written first, then the launcher files not in it are deleted. When the
    // configuration cannot be read the files stay as they are; when it was not
    // read in full (a kept copy, say) its launchers are written and none
    // deleted. When a
    // launcher cannot be saved (a full disk) the whole set is written again
    // later from the same copy of the list, until it succeeds or a newer
    // change replaces it. Logs failures; never throws Exception.
    // Reads a copy of the list on any thread (from the outcome, when it holds
    // a tree); a write of a newer change started meanwhile is not overtaken.
    void onChange(const ChangeOutcome& outcome = ChangeOutcome());
    // Deletes our launcher files (ManagedFile) of the folder dir (ending in
    // "/") except those named in keep.
    static void removeLaunchers(const std::string& dir,
                                const std::set<std::string>& keep = std::set<std::string>());
    // The desktop folder that user-dirs.dirs names (a German session's
    // $HOME/Schreibtisch/), else $HOME/Desktop/ ("/Desktop/" for a HOME of
    // "/"); empty, so that nothing is written, when HOME is unset, empty or
    // relative.
    void setDefaultBaseDir();
    // That folder read now; with plain, $HOME/Desktop/ whatever user-dirs.dirs says.
    static std::string defaultDir(bool plain);
    void addListener();
    void removeListener();

    const std::string& getBaseDir() const { return mBaseDir; }
    // Diagnostics: writes of the whole set done so far, retries and failures
    // included; counted when the write is over.
    unsigned long getRewriteCount() const { return mRewrites; }

  private:
    ConfigurationAccess& access() const;
    // Writes the set from a copy of the list (null: no list), deleting the
    // others only after a complete read; false when a launcher could not be
    // saved.
    bool write(const Node* list, bool complete);

    std::string mBaseDir;
    bool mGivenDir = false;        // the folder came as an argument: it stays
    std::string mWrittenDir;       // where the last complete write went; write() only
    ConfigurationAccess* mAccess;  // null: the default facade
    NodePath mListPath;
    std::atomic<bool> mStopped;
    bool mListening;
    std::atomic<unsigned long> mRewrites;
    // Last, so that it is destroyed first: its thread may be writing.
    RetryScheduler mRetry;
};

}  // namespace vesk::legacy::plugins::launchers
