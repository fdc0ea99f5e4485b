// SPDX-License-Identifier: LGPL-2.1-or-later
// Warnings about policy that libvesk had to leave out, sent to the system log
// under the program's own label, where the rest of the desktop's policy
// messages go; the calls' statuses stay as they are.
//
//   SystemLog::warning("group name cannot name a scope, its policy is left out:", group);
#pragma once

#include <string>

namespace vesk::legacy::store {

class SystemLog {
  public:
    // One line, "libvesk: <what> "<name>"", the name with control characters,
    // quotes, backslashes and bytes above 0x7e written as \xNN.
    static void warning(const char* what, const std::string& name);
};

}  // namespace vesk::legacy::store
