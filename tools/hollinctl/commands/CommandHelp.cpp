// SPDX-License-Identifier: LGPL-2.1-or-later
#include "CommandHelp.h"

#include <sstream>

#include "ExitStatus.h"
#include "PolicyStore.h"
#include "TextEscape.h"

namespace vesk::legacy::hollinctl {

namespace {

const size_t kWidth = 80;
const size_t kTextColumn = 23;

// Lines of at most kWidth columns: the first starts with line, the others
// with indent blanks.
std::string wrapWords(std::string line, const std::string& text, size_t indent) {
    std::string result;
    bool empty = true;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        if (!empty && line.size() + 1 + word.size() > kWidth) {
            result += line + "\n";
            line = std::string(indent, ' ');
            empty = true;
        }
        line += (empty ? "" : " ") + word;
        empty = false;
    }
    return result + line + "\n";
}

// The text in a column beside head, or below it when head reaches the column.
std::string hanging(std::string head, const std::string& text, size_t column) {
    if (head.size() + 2 > column) {
        return head + "\n" + wrapWords(std::string(column, ' '), text, column);
    }
    head.resize(column, ' ');
    return wrapWords(head, text, column);
}

}  // namespace

std::string CommandHelp::optionName(const CommandTable::Option& option) {
    std::string name = option.alias != nullptr ? std::string(option.alias) + ", " : "";
    name += option.name;
    if (option.value != nullptr) {
        name += (option.completion == CommandTable::Completion::Words ? "=" : " ") +
                std::string(option.value);
    }
    return name;
}

std::string CommandHelp::optionLine(const CommandTable::Option& option) {
    return hanging("  " + optionName(option), option.help, kTextColumn);
}

std::string CommandHelp::tool() {
    std::string text =
        "Usage: hollinctl COMMAND [ARGUMENTS] [OPTIONS]\n"
        "\n"
        "Shows the desktop policy that applies, layer by layer, and why.\n"
        "\n"
        "Commands:\n";
    for (const CommandTable::Command& command : CommandTable::commands()) {
        text += hanging("  " + std::string(command.name) + " " + command.arguments, command.summary,
                        25);
    }
    text += "\nOptions (before or after the command):\n";
    for (const CommandTable::Option& option : CommandTable::options()) {
        text += optionLine(option);
    }
    text += "\nPolicy is read from the store $VESK_POLICY_STORE, or else " +
            PolicyStore::defaultStorePath() + ".\n\n";
    std::string statuses;
    for (const auto& [status, meaning] : CommandTable::statuses()) {
        statuses += (statuses.empty() ? "" : ", ") + std::to_string(status) + " " + meaning;
    }
    return text + wrapWords("", "Exit status: " + statuses + ".", 0);
}

std::string CommandHelp::command(const CommandTable::Command& command) {
    std::string text = command.help;
    std::string options;
    std::istringstream names(command.options);
    for (std::string name; names >> name;) {
        // A line of the command's own text that explains the option wins.
        if (text.find("\n  " + name) == std::string::npos) {
            options += optionLine(*CommandTable::findOption(name));
        }
    }
    if (!options.empty()) {
        const size_t lastLine = text.rfind('\n', text.size() - 2);
        const bool optionBlock = text.compare(lastLine + 1, 2, "  ") == 0;
        text += (optionBlock ? "" : "\n") + options;
    }
    if (command.status != nullptr) {
        text += std::string("\n") + command.status + "\n";
    }
    return text;
}

std::string CommandHelp::forCommand(const std::string& name) {
    if (name.empty()) {
        return tool();
    }
    const CommandTable::Command* command = CommandTable::find(name);
    if (command == nullptr) {
        throw CommandError(
            kUsage, "unknown command " + quotedText(name) + CommandTable::suggestCommand(name));
    }
    return CommandHelp::command(*command);
}

}  // namespace vesk::legacy::hollinctl
