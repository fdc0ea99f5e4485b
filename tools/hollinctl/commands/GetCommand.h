// SPDX-License-Identifier: LGPL-2.1-or-later
// `hollinctl get`: one property's value as programs read it.
// Its help text and run function are named in the command table.
#pragma once

namespace vesk::legacy::hollinctl {

class CommandLine;
class CommandIo;

class GetCommand {
  public:
    static const char kHelp[];
    static int run(const CommandLine& line, CommandIo& io);
};

}  // namespace vesk::legacy::hollinctl
