// SPDX-License-Identifier: LGPL-2.1-or-later
// Keeps the session manager's manual-start list (~/.gnome2/session-manual) in
// step with the startup applications of policy: drops the entries it wrote on
// the previous run, keeps everybody else's with all their keys, appends one
// entry per configured application and writes the list back renumbered.
// Current session managers read XDG autostart entries instead, so the same
// applications also go there (AutostartWriter).
//
// When the policy could not be read in full or the list could not be saved,
// it can stay to listen for the startup list and write again, on each change
// and by itself after a failed save, until a full read is saved.
//
//   StartupPlugin plugin(0, nullptr);
//   plugin.execute();   // throws Exception "Corrupted session-manual", writing nothing
//   plugin.followUntilWritten();   // returns at once when execute did it all
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "PluginCommands.h"
#include "PolicyCopy.h"
#include "RetryScheduler.h"
#include "change/INodeListener.h"

namespace vesk::legacy {
class Node;
}

namespace vesk::legacy::plugins::startup {

class StartupPlugin : public INodeListener {
  public:
    // The arguments are not used.
    StartupPlugin(int argc, const char* const* argv);
    // Stops listening, drops a pending retry and waits for one in progress.
    ~StartupPlugin() override;

    StartupPlugin(const StartupPlugin&) = delete;
    StartupPlugin& operator=(const StartupPlugin&) = delete;

    // The whole job, once. A fault of the list leaves with Exception before
    // anything is written; a fault of policy is logged and the list written.
    // A failed save is tried again by itself while the plug-in lives.
    void execute();
    // Takes back everything written for the user, policy unread: our
    // autostart entries, our entries of the session list and their record,
    // and our launchers in the desktop folder (and in $HOME/Desktop when
    // user-dirs.dirs names another). The user's own files and entries stay.
    // False, logged, when something could not be removed or saved.
    bool removeWritten();
    // Whether nothing is left to do: the last write came from a read of the
    // policy in full and was saved, or it failed in a way no retry can mend.
    bool isSettled() const;
    // Unless settled: listens for the startup list, writes again on each
    // change (and by itself after a failed save), and returns once settled,
    // or after limit, logged: policy that stays unreadable that long is left
    // to the next login rather than kept waiting for all the session.
    // Returns at once, logged, when it cannot listen.
    static constexpr std::chrono::seconds kFollowLimit{10 * 60};
    void followUntilWritten(std::chrono::seconds limit = kFollowLimit);

    void onNodeAdded(const NodePath&) override {}
    void onNodeRemoved(const NodePath&) override {}
    void onNodeChanged(const NodePath&) override {}
    // Takes a copy of the list (from the outcome, when given) and writes it.
    void onChangeComplete() override;
    void onChangeCompleteWith(const ChangeOutcome& outcome) override;

    // Reading consumes the old list from the in-memory configuration.
    void readSessionEntries();
    void readSessionEntry(int index);
    void addEntry(const std::string& key);

    // Writes kept then new entries, numbered from 0, and the record; syncs.
    // False, logged, when the list could not be saved.
    bool writeSessionEntries() const;
    void storeEntry(int index, int offset, const std::vector<std::string>& list) const;

  private:
    // An entry's keys other than the three handled ones, as (suffix, value):
    // (",CurrentDirectory", "/home/ann"). They move with their entry.
    using OtherKeys = std::vector<std::pair<std::string, std::string>>;

    void collectOtherKeys(int count);
    void storeOtherKeys(int index, const OtherKeys& keys) const;
    // A copy of the startup list, from the outcome when it holds a tree; a
    // failed read is logged and gives an empty, incomplete one.
    PolicyCopy readList(const ChangeOutcome& outcome = ChangeOutcome()) const;
    // Writes the session list from the copy; the caller serialises. True when
    // saved; notes whether that settles it.
    bool rewrite(const Node* list, bool complete);
    // Rewrites through the retry scheduler, unless a newer write started
    // after generation since.
    void write(std::uint64_t since, const PolicyCopy& copy);
    void settle(bool settled);
    // The applications of the copy as XDG autostart entries, when the policy
    // was read in full; logs failures, false when the folder could not be had.
    bool writeAutostartEntries(const Node* list, bool complete) const;

    PluginCommands mCommands;
    std::vector<std::string> mKeptEntries;  // triples: command, priority, style
    std::vector<std::string> mNewEntries;
    std::vector<OtherKeys> mKeptOtherKeys;   // one per kept entry, in order
    std::map<int, OtherKeys> mOldOtherKeys;  // by old entry number, while reading
    mutable std::mutex mSettledMutex;
    std::condition_variable mSettledChanged;
    bool mSettled = false;
    bool mListening = false;
    // Last, so that it is destroyed first: its thread may be writing.
    RetryScheduler mRetry;
};

}  // namespace vesk::legacy::plugins::startup
