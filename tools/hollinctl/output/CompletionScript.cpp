// SPDX-License-Identifier: LGPL-2.1-or-later
#include "CompletionScript.h"

#include <sstream>

#include "CommandTable.h"

namespace vesk::legacy::hollinctl {

namespace {

using Completion = CommandTable::Completion;

// The fixed part: the helpers that add words to COMPREPLY as they are.
const char kHead[] =
    "# bash completion for hollinctl: commands, options and their values, and\n"
    "# component names as \"hollinctl list\" gives them for the store in effect.\n"
    "# Made from hollinctl's command table (ninja -C build hollinctl-docs); do not\n"
    "# edit. Needs nothing of the bash-completion package.\n"
    "\n"
    "# Adds each line of standard input that starts with $1, with $2 after it, to\n"
    "# COMPREPLY as it is: no word is expanded, so a component name holding $(...)\n"
    "# or backquotes stays a name.\n"
    "_hollinctl_add() {\n"
    "    local line suffix=${2-}\n"
    "    while IFS= read -r line; do\n"
    "        [[ $line$suffix == \"$1\"* ]] && COMPREPLY+=(\"$line$suffix\")\n"
    "    done\n"
    "}\n"
    "\n"
    "_hollinctl_components() {\n"
    "    hollinctl list ${1:+--entity \"$1\"} 2>/dev/null\n"
    "}\n"
    "\n"
    "# The completions of one value: KIND CURRENT ENTITY [WORDS...].\n"
    "_hollinctl_values() {\n"
    "    local kind=$1 cur=$2 entity=$3\n"
    "    shift 3\n"
    "    case $kind in\n"
    "        words) _hollinctl_add \"$cur\" < <(printf '%s\\n' \"$@\") ;;\n"
    "        component) _hollinctl_add \"$cur\" < <(_hollinctl_components \"$entity\") ;;\n"
    "        address)\n"
    "            # COMPONENT/PATH: the component, then the path is typed on.\n"
    "            _hollinctl_add \"$cur\" / < <(_hollinctl_components \"$entity\")\n"
    "            compopt -o nospace 2>/dev/null\n"
    "            ;;\n"
    "        file) mapfile -t COMPREPLY < <(compgen -f -- \"$cur\") ;;\n"
    "        folder) mapfile -t COMPREPLY < <(compgen -d -- \"$cur\") ;;\n"
    "        user) mapfile -t COMPREPLY < <(compgen -u -- \"$cur\") ;;\n"
    "        group) mapfile -t COMPREPLY < <(compgen -g -- \"$cur\") ;;\n"
    "        host) mapfile -t COMPREPLY < <(compgen -A hostname -- \"$cur\") ;;\n"
    "    esac\n"
    "}\n"
    "\n";

std::string joined(const std::vector<std::string>& words, const char* between) {
    std::string text;
    for (const std::string& word : words) {
        text += (text.empty() ? "" : between) + word;
    }
    return text;
}

std::vector<std::string> split(const char* list) {
    std::vector<std::string> words;
    std::istringstream stream(list != nullptr ? list : "");
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

// The call of _hollinctl_values for a completion kind, or "" for none.
std::string valuesCall(Completion completion, const char* words) {
    const char* const kinds[] = {"",     "words", "folder", "file",  "component", "address",
                                 "user", "group", "host",   "words", "words"};
    const std::string kind = kinds[static_cast<int>(completion)];
    if (kind.empty()) {
        return "";
    }
    std::string call = "_hollinctl_values " + kind + " \"$cur\" \"$entity\"";
    if (completion == Completion::Command) {
        for (const CommandTable::Command& command : CommandTable::commands()) {
            call += std::string(" ") + command.name;
        }
    } else if (kind == "words") {
        call += " " + joined(split(words), " ");
    }
    return call;
}

std::vector<std::string> commandOptions(const CommandTable::Command& command) {
    std::vector<std::string> names = split(command.options);
    for (const std::string& common : split(CommandTable::kCommonOptions)) {
        names.push_back(common);
    }
    return names;
}

std::string optionValues() {
    std::string text = "    case $option in\n";
    std::vector<std::string> silent;
    for (const CommandTable::Option& option : CommandTable::options()) {
        if (option.value == nullptr) {
            continue;
        }
        std::string call = valuesCall(option.completion, option.words);
        if (call.empty()) {
            silent.push_back(option.name);
            continue;
        }
        if (std::string(option.name) == "--format") {
            // Only the formats the command has.
            call = "case $command in\n";
            for (const CommandTable::Command& command : CommandTable::commands()) {
                if (command.formats[0] != '\0') {
                    call += "                " + std::string(command.name) +
                            ") _hollinctl_values words \"$cur\" \"\" " + command.formats + " ;;\n";
                }
            }
            call += "                *) " + valuesCall(option.completion, option.words) +
                    " ;;\n            esac";
        }
        text += "        " + std::string(option.name) + ")\n            " + call +
                "\n            return\n            ;;\n";
    }
    text += "        " + joined(silent, " | ") + ")\n            return\n            ;;\n";
    return text + "    esac\n";
}

std::string optionWords() {
    std::string text =
        "    if [[ $cur == -* ]]; then\n"
        "        case $command in\n";
    for (const CommandTable::Command& command : CommandTable::commands()) {
        text += "            " + std::string(command.name) +
                ") _hollinctl_values words \"$cur\" \"\" " + joined(commandOptions(command), " ") +
                " ;;\n";
    }
    std::vector<std::string> all;
    for (const CommandTable::Option& option : CommandTable::options()) {
        all.push_back(option.name);
    }
    return text + "            *) _hollinctl_values words \"$cur\" \"\" " + joined(all, " ") +
           " ;;\n        esac\n        return\n    fi\n";
}

std::string argumentWords() {
    std::string text =
        "    case $command in\n        \"\") " + valuesCall(Completion::Command, nullptr) + " ;;\n";
    for (const CommandTable::Command& command : CommandTable::commands()) {
        const std::string call = valuesCall(command.completion, nullptr);
        if (command.words != nullptr) {
            text += "        " + std::string(command.name) +
                    ")\n            if ((argument == 0)); then\n                " +
                    valuesCall(Completion::Words, command.words) +
                    "\n            else\n"
                    "                " +
                    call + "\n            fi\n            ;;\n";
        } else if (!call.empty()) {
            text += "        " + std::string(command.name) + ") " + call + " ;;\n";
        }
    }
    return text + "    esac\n";
}

// The loop that finds the command, the arguments before the word and
// --entity's value; an option's value is no argument.
std::string wordScan() {
    std::vector<std::string> valued;
    for (const CommandTable::Option& option : CommandTable::options()) {
        if (option.value != nullptr && std::string(option.name) != "--entity") {
            valued.push_back(option.name);
        }
    }
    return "    local command=\"\" entity=\"\" i word\n"
           "    local -i argument=0\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        word=${COMP_WORDS[i]}\n"
           "        case $word in\n"
           "            --entity)\n"
           "                [[ ${COMP_WORDS[i + 1]-} == \"=\" ]] && ((i++))\n"
           "                ((i++))\n"
           "                entity=${COMP_WORDS[i]-}\n"
           "                ;;\n"
           "            " +
           joined(valued, " | ") +
           ")\n"
           "                [[ ${COMP_WORDS[i + 1]-} == \"=\" ]] && ((i++))\n"
           "                ((i++))\n"
           "                ;;\n"
           "            -*) ;;\n"
           "            *) [[ -z $command ]] && command=$word || argument+=1 ;;\n"
           "        esac\n"
           "    done\n";
}

}  // namespace

std::string CompletionScript::text() {
    return std::string(kHead) +
           "_hollinctl() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]}\n"
           "    local prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
           "    COMPREPLY=()\n"
           "\n"
           "    # \"--format=js\" arrives as \"--format\" \"=\" \"js\" (= breaks words).\n"
           "    local option=$prev\n"
           "    if [[ $prev == \"=\" && $COMP_CWORD -ge 2 ]]; then\n"
           "        option=${COMP_WORDS[COMP_CWORD - 2]}\n"
           "    elif [[ $cur == \"=\" ]]; then\n"
           "        option=$prev\n"
           "        cur=\"\"\n"
           "    fi\n" +
           wordScan() + "\n" + optionValues() + "\n" + optionWords() + argumentWords() +
           "} && complete -o filenames -F _hollinctl hollinctl\n";
}

}  // namespace vesk::legacy::hollinctl
