// SPDX-License-Identifier: LGPL-2.1-or-later
// The parsed command line: the command, its arguments and the options, which
// may stand before or after the command ("--opt value" or "--opt=value"; "--"
// ends the options). Which options exist and which take a value comes from
// the command table; parsing checks only the form, and the command table says
// which options each command takes.
//
//   CommandLine line = CommandLine::parse(argc, argv);   // throws CommandError(kUsage)
//   if (line.getCommand() == "dump" && line.has("--removed")) ...
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vesk::legacy::hollinctl {

enum class OutputFormat { Text, Json, Xml, Layer };

class CommandLine {
  public:
    static CommandLine parse(int argc, const char* const* argv);

    // Empty when none was given (then only --help makes sense).
    const std::string& getCommand() const { return mCommand; }
    const std::vector<std::string>& getArguments() const { return mArguments; }
    // Fails with kUsage unless there are least to most arguments.
    void expectArguments(size_t least, size_t most) const;
    bool isHelpRequested() const { return has("--help"); }

    // Any option of the table by its long name ("--removed"); a flag's value is "".
    bool has(const std::string& option) const { return mValues.count(option) != 0; }
    const std::string& value(const std::string& option) const;
    // The options given, by their long names, in the order given.
    const std::vector<std::string>& getGiven() const { return mGiven; }

    // The connection string; "" (the current user) unless --entity was given.
    const std::string& getEntity() const { return value("--entity"); }
    bool hasEntity() const { return has("--entity"); }
    OutputFormat getFormat() const { return mFormat; }
    bool hasFormat() const { return has("--format"); }
    // --store: the policy store, in place of $VESK_POLICY_STORE.
    const std::string& getStore() const { return value("--store"); }
    bool hasStore() const { return has("--store"); }
    // check in context: --component C --scope SCOPE.
    const std::string& getComponent() const { return value("--component"); }
    bool hasComponent() const { return has("--component"); }
    const std::string& getScope() const { return value("--scope"); }
    bool hasScope() const { return has("--scope"); }
    // Planning: --user NAME, --groups a,b (split at commas), --host NAME.
    const std::string& getUser() const { return value("--user"); }
    bool hasUser() const { return has("--user"); }
    const std::vector<std::string>& getGroups() const { return mGroups; }
    bool hasGroups() const { return has("--groups"); }
    const std::string& getHost() const { return value("--host"); }
    bool hasHost() const { return has("--host"); }
    const std::string& getLocale() const { return value("--locale"); }
    bool hasLocale() const { return has("--locale"); }
    // --all: every scope searched, also those without a layer.
    bool isAllRequested() const { return has("--all"); }
    // --removed: also the nodes later layers removed.
    bool isRemovedRequested() const { return has("--removed"); }
    // set: --type T, --lock.
    const std::string& getType() const { return value("--type"); }
    bool hasType() const { return has("--type"); }
    bool isLockRequested() const { return has("--lock"); }
    // lock: --create, a node no layer has; set, unset, lock: --force, written
    // although a lock or a type clash keeps it from applying; --create-scope,
    // on a directory, the scope's entry where missing.
    bool isCreateRequested() const { return has("--create"); }
    bool isForced() const { return has("--force"); }
    bool isCreateScopeRequested() const { return has("--create-scope"); }
    // -r: check a whole store.
    bool isRecursive() const { return has("-r"); }
    // --strict: an answer from a stack with a broken layer exits with kBrokenLayer.
    bool isStrict() const { return has("--strict"); }

  private:
    void setOption(const std::string& name, const std::string& value);

    std::string mCommand;
    std::vector<std::string> mArguments;
    std::map<std::string, std::string> mValues;
    std::vector<std::string> mGiven;
    OutputFormat mFormat = OutputFormat::Text;
    std::vector<std::string> mGroups;
};

}  // namespace vesk::legacy::hollinctl
