// SPDX-License-Identifier: LGPL-2.1-or-later
// Whose stack a command line names (--entity, or --user/--groups/--host for
// planning) and the checks of the names it gives for store folders.
//
//   const PolicyStore store(PlanOptions::plan(line));
//   throw CommandError(kNotFound, "no node" + PlanOptions::where(store.plan()));
#pragma once

#include <string>
#include <vector>

#include "ScopePlan.h"
#include "policy/PolicyLayer.h"

namespace vesk::legacy::hollinctl {

class CommandLine;
class PolicyStore;

class PlanOptions {
  public:
    // The caller's stack through libvesk, or a planned one.
    static ScopePlan plan(const CommandLine& line);
    // " (did you mean X?)" for a component with policy whose name is near.
    static std::string componentHint(const PolicyStore& store, const std::string& component);
    // A name that stands for one folder of the store; kUsage otherwise.
    static void checkFolderName(const std::string& option, const std::string& name);
    // A scope folder of the store: default, groups/G, hosts/H, users/U, entities/E.
    static void checkScope(const std::string& scope);
    // " for ... in the policy store ...", for messages.
    static std::string where(const ScopePlan& plan);
    // The component's layers, failing with kNotFound when there are none.
    static std::vector<PolicyLayer> readExisting(const PolicyStore& store,
                                                 const std::string& component);
};

}  // namespace vesk::legacy::hollinctl
