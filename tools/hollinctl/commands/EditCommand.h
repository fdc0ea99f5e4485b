// SPDX-License-Identifier: LGPL-2.1-or-later
// `hollinctl set`, `unset`, `lock` and `unlock`: one edit of a scope's layer.
// Its help text and run function are named in the command table.
#pragma once

namespace vesk::legacy::hollinctl {

class CommandLine;
class CommandIo;

class EditCommand {
  public:
    static const char kHelp[];
    static int run(const CommandLine& line, CommandIo& io);
};

}  // namespace vesk::legacy::hollinctl
