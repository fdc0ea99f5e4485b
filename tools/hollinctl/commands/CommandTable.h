// SPDX-License-Identifier: LGPL-2.1-or-later
// The one table of hollinctl's commands and options. The option parser, the
// check of which options a command takes, `help`, the bash completion and the
// manual page's lists of commands and options are all made from it, so that
// none of them can fall behind the others. A new command or option is one
// row here (and its run function); then `ninja hollinctl-docs` writes the
// completion and the manual page anew, and a test fails until it has.
//
//   const CommandTable::Command* command = CommandTable::find("dump");
//   int status = command->run(line, io);
#pragma once

#include <string>
#include <vector>

namespace vesk::legacy::hollinctl {

class CommandLine;
class CommandIo;

class CommandTable {
  public:
    // What the completion offers for an option's value or a command's argument.
    enum class Completion {
        Nothing,    // free text: nothing is offered
        Words,      // the fixed words given with it
        Folder,     // a folder
        File,       // a file
        Component,  // a component name of the store in effect
        Address,    // COMPONENT/ and the path typed on
        User,       // a user name of this system
        Group,      // a group name
        Host,       // a host name
        Command,    // a command of this table
        Scope,      // a scope of the store: the words given with it
    };

    struct Option {
        const char* name;   // the long name, "--entity" (or "-r")
        const char* alias;  // a short name ("-h") or nullptr
        const char* value;  // the value's name ("CONNECTION"), nullptr for a flag
        Completion completion;
        const char* words;  // for Completion::Words, blank-separated
        const char* help;   // one sentence; wrapped where it is shown
    };

    struct Command {
        const char* name;
        const char* arguments;  // "COMPONENT [PATH]"
        Completion completion;  // of the arguments
        const char* words;      // Completion::Words: the first argument's words
        // The options it takes besides --store and --help, blank-separated.
        const char* options;
        const char* formats;  // the --format values it takes, blank-separated
        const char* summary;  // one line of the tool's help and the manual
        const char* help;     // the command's own help: usage and description
        const char* status;   // its exit statuses, one sentence
        int (*run)(const CommandLine& line, CommandIo& io);
    };

    static const std::vector<Option>& options();
    static const std::vector<Command>& commands();
    // The options every command takes.
    static const char* const kCommonOptions;
    // The meaning of each exit status, for the tool's help and the manual.
    static const std::vector<std::pair<int, const char*>>& statuses();

    // nullptr when there is no such command or option.
    static const Command* find(const std::string& name);
    static const Option* findOption(const std::string& name);
    // Whether the blank-separated list holds the word.
    static bool lists(const char* list, const std::string& word);
    // " (did you mean dump?)" for a name one or two letters off a known one.
    static std::string suggestCommand(const std::string& name);
    static std::string suggestOption(const std::string& name);
};

}  // namespace vesk::legacy::hollinctl
