// SPDX-License-Identifier: LGPL-2.1-or-later
#include "CommandTable.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "CacheCommand.h"
#include "CheckCommand.h"
#include "CommandIo.h"
#include "DidYouMean.h"
#include "DumpCommand.h"
#include "EditCommand.h"
#include "Explain.h"
#include "ExportFolder.h"
#include "GetCommand.h"
#include "HelpCommand.h"
#include "LayersCommand.h"
#include "LdifExport.h"
#include "ListCommand.h"
#include "WatchCommand.h"

namespace vesk::legacy::hollinctl {

namespace {

using C = CommandTable::Completion;

const char kPlanning[] = "--entity --user --groups --host";
const char kWatchOptions[] = "--entity --user --groups --host --format";

const char kEditStatus[] =
    "Exit status 1 when there is nothing to unset or unlock, the result has\n"
    "problems or the scope has no entry in the directory, 3 when the layer\n"
    "cannot be read or written (the server's reason is given).";

int exportLdif(const CommandLine& line, CommandIo& io) {
    return LdifExport::run(line, io.out(), io.err());
}

}  // namespace

const char* const CommandTable::kCommonOptions = "--store --help";

const std::vector<CommandTable::Option>& CommandTable::options() {
    static const std::vector<Option> kOptions = {
        {"--entity", nullptr, "CONNECTION", C::Nothing, nullptr,
         "whose policy: a connection string (default \"\", the current user; for example "
         "kiosk.default)"},
        {"--user", nullptr, "NAME", C::User, nullptr,
         "planning: the stack of this user, read from the store (folder or directory) by "
         "hollinctl itself (default: the user running hollinctl)"},
        {"--groups", nullptr, "A,B", C::Group, nullptr,
         "planning: the stack with these groups (default: the user's groups here)"},
        {"--host", nullptr, "NAME", C::Host, nullptr, "planning: the stack of this host"},
        {"--format", nullptr, "FORMAT", C::Words, "text json xml layer",
         "text (default), json, or for dump xml or layer"},
        {"--locale", nullptr, "L", C::Nothing, nullptr, "get: the value for locale L"},
        {"--store", nullptr, "STORE", C::Folder, nullptr,
         "the policy store (a folder or an ldap:// URL), in place of $VESK_POLICY_STORE"},
        {"--strict", nullptr, nullptr, C::Nothing, nullptr,
         "get, dump, layers: exit status 4 for a broken layer"},
        {"--all", nullptr, nullptr, C::Nothing, nullptr,
         "layers: every scope searched, also those without a layer"},
        {"--removed", nullptr, nullptr, C::Nothing, nullptr,
         "dump: also the nodes a later layer removed"},
        {"-r", nullptr, nullptr, C::Nothing, nullptr, "check: the whole store"},
        {"--component", nullptr, "C", C::Component, nullptr,
         "check: the component the FILE is a layer of"},
        {"--scope", nullptr, "SCOPE", C::Scope, "default groups/ hosts/ users/ entities/",
         "the scope of the layer: default, groups/G, hosts/H, users/U or entities/E"},
        {"--type", nullptr, "T", C::Nothing, nullptr,
         "set: the property's type (default: the type it has in the stack)"},
        {"--lock", nullptr, nullptr, C::Nothing, nullptr, "set: lock the property too"},
        {"--create", nullptr, nullptr, C::Nothing, nullptr,
         "lock: make the node although no layer up to the scope has it"},
        {"--force", nullptr, nullptr, C::Nothing, nullptr,
         "set, unset, lock: write although an earlier lock or a type clash keeps it from "
         "applying"},
        {"--create-scope", nullptr, nullptr, C::Nothing, nullptr,
         "set, unset, lock on a directory: add the scope's entry where it is missing"},
        {"--help", "-h", nullptr, C::Nothing, nullptr,
         "this help, or a command's: hollinctl dump --help"},
        {"--version", nullptr, nullptr, C::Nothing, nullptr, "the version of hollinctl (alone)"},
    };
    return kOptions;
}

const std::vector<CommandTable::Command>& CommandTable::commands() {
    static const std::string kListOptions = std::string(kPlanning) + " --format";
    static const std::string kStackOptions = kListOptions + " --strict";
    static const std::string kLayersOptions = kStackOptions + " --all";
    static const std::string kDumpOptions = kStackOptions + " --removed";
    static const std::string kGetOptions = kStackOptions + " --locale";
    static const std::string kUnlockOptions = std::string(kPlanning) + " --scope --create-scope";
    static const std::string kUnsetOptions = kUnlockOptions + " --force";
    static const std::string kLockOptions = kUnsetOptions + " --create";
    static const std::string kSetOptions = kUnsetOptions + " --type --lock";
    static const std::string kCheckOptions =
        std::string(kPlanning) + " --format -r --component --scope";
    static const std::vector<Command> kCommands = {
        {"list", "[PREFIX]", C::Component, nullptr, kListOptions.c_str(), "text json",
         "the components that have policy", ListCommand::kHelp,
         "Exit status 1 when no component has policy.", &ListCommand::run},
        {"layers", "COMPONENT", C::Component, nullptr, kLayersOptions.c_str(), "text json",
         "a component's layers in merge order", LayersCommand::kHelp,
         "Exit status 1 when the component has no layers, 3 when a layer cannot be\n"
         "read; 4 with --strict when a layer is broken.",
         &LayersCommand::run},
        {"dump", "COMPONENT [PATH]", C::Component, nullptr, kDumpOptions.c_str(),
         "text json xml layer",
         "the effective tree, with the layer that set and the layer that locked each node",
         DumpCommand::kHelp,
         "Exit status 1 when the component has no layers or PATH names no node; 4 with\n"
         "--strict when a layer is broken.",
         &DumpCommand::run},
        {"get", "COMPONENT/PATH", C::Address, nullptr, kGetOptions.c_str(), "text json",
         "one property's value", GetCommand::kHelp,
         "Exit status 1 when there is no such node, it is a group, or it has no value\n"
         "for the locale; 4 with --strict when a layer is broken.",
         &GetCommand::run},
        {"watch", "COMPONENT", C::Component, nullptr, kWatchOptions, "text json",
         "one line per change, until interrupted", WatchCommand::kHelp,
         "Exit status 0 when interrupted.", &WatchCommand::run},
        {"check", "FILE...", C::File, nullptr, kCheckOptions.c_str(), "text json",
         "problems in layer files, before deploying them", CheckCommand::kHelp, nullptr,
         &CheckCommand::run},
        {"set", "--scope SCOPE COMPONENT/PATH VALUE", C::Address, nullptr, kSetOptions.c_str(), "",
         "write a value into the scope's layer", EditCommand::kHelp, kEditStatus,
         &EditCommand::run},
        {"unset", "--scope SCOPE COMPONENT/PATH", C::Address, nullptr, kUnsetOptions.c_str(), "",
         "drop the scope's setting of the node", EditCommand::kHelp, kEditStatus,
         &EditCommand::run},
        {"lock", "--scope SCOPE COMPONENT/PATH", C::Address, nullptr, kLockOptions.c_str(), "",
         "lock the node in the scope's layer", EditCommand::kHelp, kEditStatus, &EditCommand::run},
        {"unlock", "--scope SCOPE COMPONENT/PATH", C::Address, nullptr, kUnlockOptions.c_str(), "",
         "drop the scope's lock of the node", EditCommand::kHelp, kEditStatus, &EditCommand::run},
        {"explain", "COMPONENT/PATH", C::Address, nullptr, kListOptions.c_str(), "text json",
         "each layer's value for the node, and what became of it", Explain::kHelp,
         "Exit status 1 when no layer has the node.", &Explain::run},
        {"export", "FOLDER", C::Folder, nullptr, "", "",
         "a policy directory written as a store folder", ExportFolder::kHelp,
         "Exit status 1 when an entry in no layer's place was left out (named).",
         &ExportFolder::run},
        {"export-ldif", "STORE_DIR BASE_DN", C::Folder, nullptr, "", "",
         "the LDIF that loads a file store into a directory, for ldapadd", LdifExport::help(),
         nullptr, &exportLdif},
        {"cache", "refresh|show [COMPONENT...]", C::Component, "refresh show",
         "--user --groups --host --format", "text json",
         "as root: keep the user's policy in $HOLLIN_CACHE_DIR for logins without store; "
         "show: what the kept copies hold",
         CacheCommand::kHelp,
         "Exit status 0 when every component was kept, 1 when one has no layers, 2 usage\n"
         "error, 3 when one could not be read in full (its previous copy stays), FOLDER\n"
         "was refused or the user cannot reach it.",
         &CacheCommand::run},
        {"help", "[COMMAND]", C::Command, nullptr, "", "", "this help, or a command's",
         HelpCommand::kHelp, nullptr, &HelpCommand::run},
    };
    return kCommands;
}

const std::vector<std::pair<int, const char*>>& CommandTable::statuses() {
    static const std::vector<std::pair<int, const char*>> kStatuses = {
        {0, "success"},
        {1, "not found (check: problems found)"},
        {2, "usage error"},
        {3, "the policy service or the output failed"},
        {4, "(--strict) a broken layer"},
    };
    return kStatuses;
}

const CommandTable::Command* CommandTable::find(const std::string& name) {
    for (const Command& command : commands()) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

const CommandTable::Option* CommandTable::findOption(const std::string& name) {
    for (const Option& option : options()) {
        if (name == option.name || (option.alias != nullptr && name == option.alias)) {
            return &option;
        }
    }
    return nullptr;
}

bool CommandTable::lists(const char* list, const std::string& word) {
    std::istringstream words(list != nullptr ? list : "");
    for (std::string listed; words >> listed;) {
        if (listed == word) {
            return true;
        }
    }
    return false;
}

std::string CommandTable::suggestCommand(const std::string& name) {
    std::vector<std::string> known;
    for (const Command& command : commands()) {
        known.push_back(command.name);
    }
    return DidYouMean::hint(name, known);
}

std::string CommandTable::suggestOption(const std::string& name) {
    std::vector<std::string> known;
    for (const Option& option : options()) {
        known.push_back(option.name);
    }
    return DidYouMean::hint(name, known);
}

}  // namespace vesk::legacy::hollinctl
