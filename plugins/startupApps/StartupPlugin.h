// Keeps the session manager's manual-start list (~/.gnome2/session-manual) in
// step with the startup applications of policy: drops the entries it wrote on
// the previous run, keeps everybody else's with all their keys, appends one
// entry per configured application and writes the list back renumbered.
// Current session managers read XDG autostart entries instead, so the same
// applications also go there (AutostartWriter).
//
//   StartupPlugin plugin(0, nullptr);
//   plugin.execute();   // throws Exception "Corrupted session-manual", writing nothing
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "PluginCommands.h"

namespace vesk::legacy::plugins::startup {

class StartupPlugin {
  public:
    // The arguments are not used.
    StartupPlugin(int argc, const char* const* argv);
    virtual ~StartupPlugin();

    StartupPlugin(const StartupPlugin&) = delete;
    StartupPlugin& operator=(const StartupPlugin&) = delete;

    // The whole job, once. A fault of the list leaves with Exception before
    // anything is written; a fault of policy is logged and the list written.
    void execute();

    // The applications of policy as XDG autostart entries. Logs failures;
    // when policy cannot be read the entries stay as they are.
    void writeAutostartEntries() const;

    // Reading consumes the old list from the in-memory configuration.
    void readSessionEntries();
    void readSessionEntry(int index);
    void addEntry(const std::string& key);

    // Writes kept then new entries, numbered from 0, and the record; syncs.
    void writeSessionEntries() const;
    void storeEntry(int index, int offset, const std::vector<std::string>& list) const;

  private:
    // An entry's keys other than the three handled ones, as (suffix, value):
    // (",CurrentDirectory", "/home/ann"). They move with their entry.
    using OtherKeys = std::vector<std::pair<std::string, std::string>>;

    void collectOtherKeys(int count);
    void storeOtherKeys(int index, const OtherKeys& keys) const;

    PluginCommands mCommands;
    std::vector<std::string> mKeptEntries;  // triples: command, priority, style
    std::vector<std::string> mNewEntries;
    std::vector<OtherKeys> mKeptOtherKeys;   // one per kept entry, in order
    std::map<int, OtherKeys> mOldOtherKeys;  // by old entry number, while reading
};

}  // namespace vesk::legacy::plugins::startup
