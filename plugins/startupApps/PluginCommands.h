// SPDX-License-Identifier: LGPL-2.1-or-later
// The record of the command lines startlist wrote into the session list, kept
// in a section of the same file: a multiset, so each entry we wrote is told
// apart from a user's entry with the same command by counting.
//
//   PluginCommands record;
//   record.readCommands(kMERX);             // what the previous run wrote
//   if (record.isCommand(command)) ...      // ours: consumes one occurrence
//   record.addCommand(newCommand);
//   record.writeCommands(kMERX);
#pragma once

#include <map>
#include <string>

namespace vesk::legacy::plugins::startup {

class PluginCommands {
  public:
    // Replaces the record by the one stored under the section prefix
    // ("file/section/") and removes that one from the configuration.
    void readCommands(const std::string& prefix);
    // Stores the record under the prefix: every occurrence, ascending byte
    // order of the command text, then the count. Nothing for an empty record.
    void writeCommands(const std::string& prefix) const;
    // True, and one occurrence fewer, if the exact command is recorded.
    bool isCommand(const std::string& command);
    // Records one more occurrence.
    void addCommand(const std::string& command);
    void clear() { mCommands.clear(); }

  private:
    std::map<std::string, int> mCommands;  // command line -> occurrences
};

}  // namespace vesk::legacy::plugins::startup
