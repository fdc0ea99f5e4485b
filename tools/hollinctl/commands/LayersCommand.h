// SPDX-License-Identifier: LGPL-2.1-or-later
// `hollinctl layers`: a component's layers in merge order.
// Its help text and run function are named in the command table.
#pragma once

namespace vesk::legacy::hollinctl {

class CommandLine;
class CommandIo;

class LayersCommand {
  public:
    static const char kHelp[];
    static int run(const CommandLine& line, CommandIo& io);
};

}  // namespace vesk::legacy::hollinctl
