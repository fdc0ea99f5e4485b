#include "CommandLine.h"

#include <algorithm>

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
    if (text == "layer") {
        return OutputFormat::Layer;
    }
    throw CommandError(kUsage,
                       "unknown format " + quotedText(text) + " (text, json, xml or layer)");
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
        if (word == "--all") {
            line.mAll = true;
            continue;
        }
        if (word == "--removed") {
            line.mRemoved = true;
            continue;
        }
        if (word == "--lock") {
            line.mLock = true;
            continue;
        }
        if (word == "--create") {
            line.mCreate = true;
            continue;
        }
        if (word == "--create-scope") {
            line.mCreateScope = true;
            continue;
        }
        if (word == "--force") {
            line.mForce = true;
            continue;
        }
        if (word == "-r") {
            line.mRecursive = true;
            continue;
        }
        if (word == "--strict") {
            line.mStrict = true;
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        std::string value;
        if (name != "--entity" && name != "--format" && name != "--locale" && name != "--user" &&
            name != "--groups" && name != "--host" && name != "--store" && name != "--component" &&
            name != "--scope" && name != "--type") {
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
        } else if (name == "--store") {
            if (value.empty()) {
                throw CommandError(kUsage, "--store needs a folder or an ldap:// URL");
            }
            line.mStore = value;
            line.mHasStore = true;
        } else if (name == "--type") {
            line.mType = value;
            line.mHasType = true;
        } else if (name == "--component") {
            line.mComponent = value;
            line.mHasComponent = true;
        } else if (name == "--scope") {
            line.mScope = value;
            line.mHasScope = true;
        } else if (name == "--user") {
            line.mUser = value;
            line.mHasUser = true;
        } else if (name == "--groups") {
            line.mGroups.clear();
            for (size_t start = 0; start <= value.size();) {
                const size_t comma = std::min(value.find(',', start), value.size());
                if (comma > start) {
                    line.mGroups.push_back(value.substr(start, comma - start));
                }
                start = comma + 1;
            }
            line.mHasGroups = true;
        } else if (name == "--host") {
            line.mHost = value;
            line.mHasHost = true;
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
