// SPDX-License-Identifier: LGPL-2.1-or-later
// The commands of hollinctl: finds the command in the command table, checks
// that it takes each option given, and runs it; it writes its result to the
// output stream and returns the exit status. Failures are thrown as
// CommandError with their status.
//
//   Commands commands(stdout, stderr);
//   return commands.run(CommandLine::parse(argc, argv));
#pragma once

#include <cstdio>

#include "CommandIo.h"
#include "CommandLine.h"

namespace vesk::legacy::hollinctl {

class Commands {
  public:
    // Neither stream is owned.
    Commands(std::FILE* out, std::FILE* err) : mIo(out, err) {}

    int run(const CommandLine& line);

  private:
    CommandIo mIo;
};

}  // namespace vesk::legacy::hollinctl
