// SPDX-License-Identifier: LGPL-2.1-or-later
#include "ManualPage.h"

#include <cctype>

#include "CommandHelp.h"
#include "CommandTable.h"

namespace vesk::legacy::hollinctl {

namespace {

// Text for scdoc: its markup characters escaped.
std::string escaped(const std::string& text) {
    std::string result;
    for (char c : text) {
        if (c == '*' || c == '_' || c == '\\') {
            result += '\\';
        }
        result += c;
    }
    return result;
}

// "COMPONENT [PATH]" as "_COMPONENT_ [_PATH_]": names to fill in underlined,
// words to type (--scope, refresh) in bold.
std::string synopsis(const std::string& text) {
    std::string result;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        const bool upper = std::isupper(static_cast<unsigned char>(c)) != 0;
        if (upper || std::islower(static_cast<unsigned char>(c)) != 0 || c == '-') {
            size_t end = i;
            while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) != 0 ||
                                         text[end] == '_' || text[end] == '-')) {
                ++end;
            }
            result += (upper ? "_" : "*") + text.substr(i, end - i) + (upper ? "_" : "*");
            i = end;
        } else {
            result += c;
            ++i;
        }
    }
    return result;
}

// The sentence with a capital and a full stop, as the page writes it.
std::string sentence(std::string text) {
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return escaped(text) + ".";
}

}  // namespace

const char ManualPage::kBegin[] =
    "; The part below up to its end is made from hollinctl's command table:\n"
    "; after a change there, run \"ninja -C build hollinctl-docs\".\n";
const char ManualPage::kEnd[] = "; End of the part made from the command table.\n";

std::string ManualPage::generated() {
    std::string text = std::string(kBegin) + "\n# COMMANDS\n\n";
    for (const CommandTable::Command& command : CommandTable::commands()) {
        text += "*" + std::string(command.name) + "* " + synopsis(command.arguments) + "\n\t" +
                sentence(command.summary) + "\n\n";
    }
    text +=
        "*hollinctl help* _COMMAND_ explains a command in full.\n\n"
        "# OPTIONS\n\nOptions may stand before or after the command.\n\n";
    for (const CommandTable::Option& option : CommandTable::options()) {
        std::string name = option.alias != nullptr ? "*" + std::string(option.alias) + "*, " : "";
        name += "*" + std::string(option.name) + "*";
        if (option.value != nullptr) {
            name += (CommandHelp::optionName(option).find('=') != std::string::npos ? "=" : " ") +
                    std::string("_") + option.value + "_";
        }
        text += name + "\n\t" + sentence(option.help) + "\n\n";
    }
    text += "# EXIT STATUS\n\n";
    for (const auto& [status, meaning] : CommandTable::statuses()) {
        text += "*" + std::to_string(status) + "*\n\t" + sentence(meaning) + "\n\n";
    }
    return text + "The message names the store and the component.\n\n" + kEnd;
}

std::string ManualPage::spliced(const std::string& page) {
    const size_t begin = page.find(kBegin);
    const size_t end = page.find(kEnd);
    if (begin == std::string::npos || end == std::string::npos || end < begin) {
        return page;
    }
    return page.substr(0, begin) + generated() + page.substr(end + sizeof kEnd - 1);
}

}  // namespace vesk::legacy::hollinctl
