// SPDX-License-Identifier: LGPL-2.1-or-later
// `hollinctl check`: problems in layer files, alone or in their place in a stack.
// Its help text and run function are named in the command table.
#pragma once

namespace vesk::legacy::hollinctl {

class CommandLine;
class CommandIo;

class CheckCommand {
  public:
    static const char kHelp[];
    static int run(const CommandLine& line, CommandIo& io);
};

}  // namespace vesk::legacy::hollinctl
