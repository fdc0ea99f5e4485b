// The parsed command line: the command, its arguments and the options, which
// may stand before or after the command ("--opt value" or "--opt=value"; "--"
// ends the options). Parsing checks only the form; each command checks which
// options it takes.
//
//   CommandLine line = CommandLine::parse(argc, argv);   // throws CommandError(kUsage)
//   if (line.getCommand() == "dump") ...
#pragma once

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
    bool isHelpRequested() const { return mHelp; }

    // The connection string; "" (the current user) unless --entity was given.
    const std::string& getEntity() const { return mEntity; }
    bool hasEntity() const { return mHasEntity; }
    OutputFormat getFormat() const { return mFormat; }
    bool hasFormat() const { return mHasFormat; }
    // --store: the policy store, in place of $VESK_POLICY_STORE.
    const std::string& getStore() const { return mStore; }
    bool hasStore() const { return mHasStore; }
    // check in context: --component C --scope SCOPE.
    const std::string& getComponent() const { return mComponent; }
    bool hasComponent() const { return mHasComponent; }
    const std::string& getScope() const { return mScope; }
    bool hasScope() const { return mHasScope; }
    // Planning: --user NAME, --groups a,b (split at commas), --host NAME.
    const std::string& getUser() const { return mUser; }
    bool hasUser() const { return mHasUser; }
    const std::vector<std::string>& getGroups() const { return mGroups; }
    bool hasGroups() const { return mHasGroups; }
    const std::string& getHost() const { return mHost; }
    bool hasHost() const { return mHasHost; }
    const std::string& getLocale() const { return mLocale; }
    bool hasLocale() const { return mHasLocale; }
    // --all: every scope searched, also those without a layer.
    bool isAllRequested() const { return mAll; }
    // --removed: also the nodes later layers removed.
    bool isRemovedRequested() const { return mRemoved; }
    // set: --type T, --lock.
    const std::string& getType() const { return mType; }
    bool hasType() const { return mHasType; }
    bool isLockRequested() const { return mLock; }
    // lock: --create, a node no layer has; set, unset, lock: --force, written
    // although a lock or a type clash keeps it from applying.
    bool isCreateRequested() const { return mCreate; }
    bool isForced() const { return mForce; }
    // set, lock on a directory: --create-scope, the scope's entry where missing.
    bool isCreateScopeRequested() const { return mCreateScope; }
    // -r: check a whole store.
    bool isRecursive() const { return mRecursive; }
    // --strict: an answer from a stack with a broken layer exits with kBrokenLayer.
    bool isStrict() const { return mStrict; }

  private:
    std::string mCommand;
    std::vector<std::string> mArguments;
    bool mHelp = false;
    std::string mEntity;
    bool mHasEntity = false;
    OutputFormat mFormat = OutputFormat::Text;
    bool mHasFormat = false;
    std::string mStore;
    bool mHasStore = false;
    std::string mComponent;
    bool mHasComponent = false;
    std::string mScope;
    bool mHasScope = false;
    std::string mUser;
    bool mHasUser = false;
    std::vector<std::string> mGroups;
    bool mHasGroups = false;
    std::string mHost;
    bool mHasHost = false;
    std::string mLocale;
    bool mHasLocale = false;
    bool mAll = false;
    bool mRemoved = false;
    bool mStrict = false;
    bool mRecursive = false;
    std::string mType;
    bool mHasType = false;
    bool mLock = false;
    bool mCreate = false;
    bool mForce = false;
    bool mCreateScope = false;
};

}  // namespace vesk::legacy::hollinctl
