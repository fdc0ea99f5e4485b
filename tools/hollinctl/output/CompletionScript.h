// SPDX-License-Identifier: LGPL-2.1-or-later
// hollinctl's bash completion, made from the command table: every command,
// the options each takes, their values, and component names as `hollinctl
// list` gives them. No word offered is ever expanded by the shell, so a name
// from the store or a directory server cannot run a command.
//
//   std::string script = CompletionScript::text();   // dist/completion/hollinctl
#pragma once

#include <string>

namespace vesk::legacy::hollinctl {

class CompletionScript {
  public:
    static std::string text();
};

}  // namespace vesk::legacy::hollinctl
