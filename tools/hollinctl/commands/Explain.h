// hollinctl explain COMPONENT/PATH: every layer of the stack with the value it
// tried to give the node and what became of it, for "why this value?".
//
//   hollinctl explain com.example/apps/editor --user alice
#pragma once

#include <cstdio>

#include "CommandLine.h"
#include "ScopePlan.h"

namespace vesk::legacy::hollinctl {

class Explain {
  public:
    // The stack is plan's; returns the exit status (1: no layer has the node).
    static int run(const CommandLine& line, ScopePlan plan, std::FILE* out);
};

}  // namespace vesk::legacy::hollinctl
