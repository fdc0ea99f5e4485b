// SPDX-License-Identifier: LGPL-2.1-or-later
// ExecLine: a command line as a desktop entry's Exec value. The command is
// split as the shell splits it and each argument quoted anew in the entry's
// own quoting (double quotes, "%" doubled), so the desktop runs the same
// arguments. Shared by the autostart entries, the launchers and the checks.
//
//   std::string exec, why;
//   if (!ExecLine::quote("sh -c 'echo hi; sleep 3'", exec, why)) skip(why);  // an open quote
#pragma once

#include <string>

namespace vesk::legacy::plugins {

class ExecLine {
  public:
    // False, with the reason, when the command does not split (an open
    // quote, or nothing but blanks).
    // With fieldCodes, a field code such as "%U" in an unquoted argument stays
    // one (a launcher's command is written for the desktop, which fills them
    // in); otherwise every "%" is literal.
    static bool quote(const std::string& command, std::string& value, std::string& why,
                      bool fieldCodes = false);
};

}  // namespace vesk::legacy::plugins
