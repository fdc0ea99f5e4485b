// SPDX-License-Identifier: LGPL-2.1-or-later
// hollinctl's cache command: its help text and its run function, which the
// command table names; the subcommands do the work (cache refresh: CacheRefresh).
#pragma once

namespace vesk::legacy::hollinctl {

class CommandLine;
class CommandIo;

class CacheCommand {
  public:
    static const char kHelp[];
    static int run(const CommandLine& line, CommandIo& io);
};

}  // namespace vesk::legacy::hollinctl
