// SPDX-License-Identifier: LGPL-2.1-or-later
#include "HelpCommand.h"

#include "CommandHelp.h"
#include "CommandIo.h"
#include "CommandLine.h"
#include "CommandTable.h"
#include "ExitStatus.h"
#include "TextEscape.h"

namespace vesk::legacy::hollinctl {

const char HelpCommand::kHelp[] =
    "Usage: hollinctl help [COMMAND]\n"
    "\n"
    "The tool's help, or a command's: \"hollinctl help dump\" is \"hollinctl dump\n"
    "--help\".\n";

int HelpCommand::run(const CommandLine& line, CommandIo& io) {
    line.expectArguments(0, 1);
    const std::string command = line.getArguments().empty() ? "" : line.getArguments()[0];
    io.write(CommandHelp::forCommand(command));
    return kSuccess;
}

}  // namespace vesk::legacy::hollinctl
