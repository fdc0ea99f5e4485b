// SPDX-License-Identifier: LGPL-2.1-or-later
// Small C++ helpers over gnome_config for the session file: strings we own
// instead of g_malloc'ed ones, and the numbered keys "<n>,<name>" of a section.
//
//   std::string command;
//   if (readConfigString("session-manual/Default/0,RestartCommand", command)) ...
//   for (const std::string& key : sectionKeys("session-manual/Default/")) ...
#pragma once

#include <string>
#include <vector>

namespace vesk::legacy::plugins::startup {

// The string at the gnome_config path, if there is one; an empty value counts.
bool readConfigString(const std::string& path, std::string& value);

// The key names of the section that prefix ("file/section/") names, in file
// order; empty for a missing section or an unreadable file.
std::vector<std::string> sectionKeys(const std::string& prefix);

// Splits "<n><suffix>" where n is a number as "%d" writes it (no sign, no
// leading zeros, within int) and the suffix starts with ",". False for
// anything else: "01,x", "-1,x", "1x" and "x" belong to no entry.
bool splitNumberedKey(const std::string& key, int& number, std::string& suffix);

}  // namespace vesk::legacy::plugins::startup
