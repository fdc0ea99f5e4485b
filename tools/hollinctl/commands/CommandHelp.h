// SPDX-License-Identifier: LGPL-2.1-or-later
// The help texts of hollinctl, made from the command table: the tool's help
// lists every command and option; a command's help is its own text, the
// options it takes that the text does not explain, and its exit statuses.
//
//   std::fputs(CommandHelp::forCommand("dump").c_str(), stdout);
#pragma once

#include <string>

#include "CommandTable.h"

namespace vesk::legacy::hollinctl {

class CommandHelp {
  public:
    // The tool's help for "", else the command's; an unknown command fails
    // with kUsage and a did-you-mean.
    static std::string forCommand(const std::string& command);
    static std::string tool();
    static std::string command(const CommandTable::Command& command);
    // "  --entity CONNECTION  whose policy: ..." wrapped to 80 columns.
    static std::string optionLine(const CommandTable::Option& option);
    // "--format=FORMAT", "-h, --help".
    static std::string optionName(const CommandTable::Option& option);
};

}  // namespace vesk::legacy::hollinctl
