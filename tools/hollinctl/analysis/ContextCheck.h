// SPDX-License-Identifier: LGPL-2.1-or-later
// "hollinctl check --component C --scope SCOPE FILE": the file merged into the
// live stack in the place of that scope's layer, before it is deployed: the
// locks it would run into, the values it would have dropped for their type,
// and the nodes it would change, as watch would print them.
//
//   ContextCheck::Result r = ContextCheck::run(store, "com.example", "groups/staff", text);
#pragma once

#include <string>
#include <vector>

namespace vesk::legacy::hollinctl {

class PolicyStore;

class ContextCheck {
  public:
    struct Result {
        // "2 groups/staff of 3": where the file goes in the stack.
        std::string place;
        bool inStack = true;  // false: the scope is not one of the stack's
        struct Entry {
            std::string path;    // "/apps/browser"
            std::string detail;  // the locking layer, the clash, or the event
        };
        std::vector<Entry> refused;  // detail: "1 default", the layer that locked it
        std::vector<Entry> ignored;  // detail: "xs:string on a zel:string-list"
        std::vector<Entry> changes;  // detail: "added", "changed", "removed"
        // Launchers of the merged list that the desktop skips, as no valid
        // launcher file can be written; detail: why, and the layer to blame.
        std::vector<Entry> launchers;
    };

    static Result run(const PolicyStore& store, const std::string& component,
                      const std::string& scope, const std::string& text);
};

}  // namespace vesk::legacy::hollinctl
