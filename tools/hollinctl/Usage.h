// The --help texts of hollinctl and of each command.
#pragma once

#include <string>

namespace vesk::legacy::hollinctl {

// The tool's own help.
std::string toolHelp();
// A command's help, or an empty text for an unknown command.
std::string commandHelp(const std::string& command);
// " (did you mean dump?)" for a command one or two letters off a real one,
// else an empty text.
std::string suggestCommand(const std::string& command);

}  // namespace vesk::legacy::hollinctl
