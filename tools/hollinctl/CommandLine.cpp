// SPDX-License-Identifier: LGPL-2.1-or-later
#include "CommandLine.h"

#include <algorithm>

#include "CommandTable.h"
#include "ExitStatus.h"
#include "TextEscape.h"

namespace vesk::legacy::hollinctl {

namespace {

OutputFormat formatFromText(const std::string& text) {
    const std::pair<const char*, OutputFormat> formats[] = {{"text", OutputFormat::Text},
                                                            {"json", OutputFormat::Json},
                                                            {"xml", OutputFormat::Xml},
                                                            {"layer", OutputFormat::Layer}};
    for (const auto& [name, format] : formats) {
        if (text == name) {
            return format;
        }
    }
    throw CommandError(kUsage,
                       "unknown format " + quotedText(text) + " (text, json, xml or layer)");
}

std::vector<std::string> splitAtCommas(const std::string& value) {
    std::vector<std::string> parts;
    for (size_t start = 0; start <= value.size();) {
        const size_t comma = std::min(value.find(',', start), value.size());
        if (comma > start) {
            parts.push_back(value.substr(start, comma - start));
        }
        start = comma + 1;
    }
    return parts;
}

}  // namespace

const std::string& CommandLine::value(const std::string& option) const {
    static const std::string kNone;
    const auto found = mValues.find(option);
    return found != mValues.end() ? found->second : kNone;
}

void CommandLine::expectArguments(size_t least, size_t most) const {
    if (mArguments.size() < least) {
        throw CommandError(kUsage, mCommand + ": missing argument");
    }
    if (mArguments.size() > most) {
        throw CommandError(kUsage,
                           mCommand + ": unexpected argument " + quotedText(mArguments[most]));
    }
}

void CommandLine::setOption(const std::string& name, const std::string& value) {
    if (name == "--store" && value.empty()) {
        throw CommandError(kUsage, "--store needs a folder or an ldap:// URL");
    }
    if (name == "--version") {
        throw CommandError(kUsage, "--version stands alone");
    }
    if (name == "--format") {
        mFormat = formatFromText(value);
    } else if (name == "--groups") {
        mGroups = splitAtCommas(value);
    }
    if (std::find(mGiven.begin(), mGiven.end(), name) == mGiven.end()) {
        mGiven.push_back(name);
    }
    mValues[name] = value;
}

CommandLine CommandLine::parse(int argc, const char* const* argv) {
    CommandLine line;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            // The first word is the command, also after --help ("--help dump").
            if (line.mCommand.empty()) {
                line.mCommand = word;
            } else {
                line.mArguments.push_back(word);
            }
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const CommandTable::Option* option = CommandTable::findOption(name);
        if (option == nullptr) {
            throw CommandError(
                kUsage, "unknown option " + quotedText(name) + CommandTable::suggestOption(name));
        }
        std::string value;
        if (option->value == nullptr) {
            if (equals != std::string::npos) {
                throw CommandError(kUsage, "option " + name + " takes no value");
            }
        } else if (equals != std::string::npos) {
            value = word.substr(equals + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            throw CommandError(kUsage, "option " + name + " needs a value");
        }
        line.setOption(option->name, value);
    }
    return line;
}

}  // namespace vesk::legacy::hollinctl
