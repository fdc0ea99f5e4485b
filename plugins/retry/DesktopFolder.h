// SPDX-License-Identifier: LGPL-2.1-or-later
// Where the user's desktop folder is and how it comes to exist: the folder
// that the XDG user-dirs.dirs file names, and its creation when it is missing.
//
//   std::string dir = userDesktopDir();  // "/home/u/Schreibtisch", or "" for the default
//   ensureDesktopDir("/home/u/Schreibtisch/");
#pragma once

#include <string>

namespace vesk::legacy::plugins::launchers {

// The desktop folder that $XDG_CONFIG_HOME/user-dirs.dirs names, read afresh
// on every call; empty when the file names none, so that the caller uses its
// own $HOME/Desktop.
std::string userDesktopDir();

// Creates the folder dir (mode 0755, whatever the umask) when it is missing;
// its parent must exist. False, with the reason in why, when it is still not
// a folder afterwards.
bool ensureDesktopDir(const std::string& dir, std::string& why);

}  // namespace vesk::legacy::plugins::launchers
