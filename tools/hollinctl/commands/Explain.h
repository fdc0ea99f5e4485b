// SPDX-License-Identifier: LGPL-2.1-or-later
// hollinctl explain COMPONENT/PATH: every layer of the stack with the value it
// tried to give the node and what became of it, for "why this value?".
//
//   hollinctl explain com.example/apps/editor --user alice
#pragma once

#include <cstdio>

#include "CommandLine.h"

namespace vesk::legacy::hollinctl {

class CommandIo;

class Explain {
  public:
    static const char kHelp[];
    // Returns the exit status (1: no layer has the node).
    static int run(const CommandLine& line, CommandIo& io);
};

}  // namespace vesk::legacy::hollinctl
