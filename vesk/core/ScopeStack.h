// SPDX-License-Identifier: LGPL-2.1-or-later
// The store folders whose layers make up one entity's configuration, most
// general first, resolved once when a connection is opened.
//
//   std::unique_ptr<ScopeStack> stack;
//   PAPIStatus status = ScopeStack::forConnection("", stack);
//   // stack->scopes(): "default", "groups/adm", "hosts/ws1", "users/alice"
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "papi.h"

namespace vesk::legacy::store {

class ScopeStack {
  public:
    // Empty or null text: the user of the process's uid with its groups and
    // the host; any other text names an entity of its own. The store need
    // not exist yet.
    static PAPIStatus forConnection(const char* connectionString,
                                    std::unique_ptr<ScopeStack>& stack);
    // The same scopes without a store root, for a backend of its own:
    // "default", "groups/<group>"..., "hosts/<host>", "users/<user>" or
    // "entities/<entity>"; every name below a folder is valid. A user, group
    // or host name that is not is left out with a warning in the system log;
    // a connection string that is not is refused.
    static PAPIStatus scopesFor(const char* connectionString, std::vector<std::string>& scopes);

    ScopeStack(std::string root, std::vector<std::string> scopes);

    // A name that can stand as one path element inside the store.
    static bool isValidName(const std::string& name);
    // VESK_POLICY_STORE, else the line of the system's store setting
    // (StoreSetting), else the build-time default.
    static std::string configuredStore();
    // The configured store as a directory: absolute, no trailing "/".
    static std::string storeRoot();

    // The root is an openable directory holding at least one scope folder;
    // anything else (an empty mount point too) counts as a store gone.
    bool rootAccessible() const;
    // Why a root without scope folders is not read, for messages.
    static constexpr const char* kNoScopeFolders =
        "holds none of default/, groups/, hosts/, users/, entities/ (not mounted?)";

    const std::string& root() const { return mRoot; }
    const std::vector<std::string>& scopes() const { return mScopes; }
    std::string scopePath(const std::string& scope) const { return mRoot + "/" + scope; }

  private:
    std::string mRoot;
    std::vector<std::string> mScopes;
};

}  // namespace vesk::legacy::store
