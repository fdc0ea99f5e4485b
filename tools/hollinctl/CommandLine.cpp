#include "CommandLine.h"

#include "ExitStatus.h"
#include "TextEscape.h"

namespace vesk::legacy::hollinctl {

namespace {

OutputFormat formatFromText(const std::string& text) {
    if (text == "text") {
        return OutputFormat::Text;
    }
    if (text == "json") {
        return OutputFormat::Json;
    }
    if (text == "xml") {
        return OutputFormat::Xml;
    }
    throw CommandError(kUsage, "unknown format " + quotedText(text) + " (text, json or xml)");
}

}  // namespace

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
        if (word == "-h" || word == "--help") {
            line.mHelp = true;
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        std::string value;
        if (name != "--entity" && name != "--format" && name != "--locale" && name != "--user") {
            throw CommandError(kUsage, "unknown option " + quotedText(name));
        }
        if (equals != std::string::npos) {
            value = word.substr(equals + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            throw CommandError(kUsage, "option " + name + " needs a value");
        }
        if (name == "--entity") {
            line.mEntity = value;
            line.mHasEntity = true;
        } else if (name == "--user") {
            line.mUser = value;
            line.mHasUser = true;
        } else if (name == "--format") {
            line.mFormat = formatFromText(value);
            line.mHasFormat = true;
        } else {
            line.mLocale = value;
            line.mHasLocale = true;
        }
    }
    return line;
}

}  // namespace vesk::legacy::hollinctl
