// SPDX-License-Identifier: LGPL-2.1-or-later
#include "Commands.h"

#include <cstdlib>

#include "CommandTable.h"
#include "ExitStatus.h"
#include "PolicyStore.h"
#include "TextEscape.h"

namespace vesk::legacy::hollinctl {

int Commands::run(const CommandLine& line) {
    const std::string& name = line.getCommand();
    const CommandTable::Command* command = CommandTable::find(name);
    if (command == nullptr) {
        throw CommandError(
            kUsage, "unknown command " + quotedText(name) + CommandTable::suggestCommand(name));
    }
    for (const std::string& option : line.getGiven()) {
        if (!CommandTable::lists(command->options, option) &&
            !CommandTable::lists(CommandTable::kCommonOptions, option)) {
            throw CommandError(kUsage, name + " takes no " + option);
        }
    }
    if (line.hasFormat() && !CommandTable::lists(command->formats, line.value("--format"))) {
        throw CommandError(kUsage, name + " has no such --format");
    }
    const char* configured = std::getenv("VESK_POLICY_STORE");
    if (configured != nullptr && *configured == '\0' && name != "check") {
        mIo.complain("warning: VESK_POLICY_STORE is empty, so the built-in store " +
                     printable(PolicyStore::defaultStorePath()) + " is read");
    }
    if (name != "help" && name != "check" && name != "export-ldif") {
        PolicyStore::checkLocation();
    }
    if (name != "cache") {
        mIo.warnOfMissingFolder(line);
    }
    return command->run(line, mIo);
}

}  // namespace vesk::legacy::hollinctl
