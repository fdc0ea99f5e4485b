// SPDX-License-Identifier: LGPL-2.1-or-later
// Whether an edit of one scope's layer would apply: the edited layer merged
// after the layers that come before its scope in a stack, and what the merge
// does to the edited node. A value under an earlier lock or of the wrong kind
// would be written and then dropped at every merge; the edit says so instead.
//
//   EditPrecheck precheck(stack, "org.example", "users/alice");
//   for (const std::string& why : precheck.problems({"apps", "editor"}, editedText)) ...
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "policy/PolicyLayer.h"

namespace vesk::legacy {
class Node;
}

namespace vesk::legacy::hollinctl {

class PolicyStore;
class Provenance;

class EditPrecheck {
  public:
    // Reads the stack's layers of the component; those before scope are
    // kept (the scope's own layer and later ones are not).
    EditPrecheck(const PolicyStore& stack, const std::string& component, const std::string& scope);
    ~EditPrecheck();
    EditPrecheck(const EditPrecheck&) = delete;
    EditPrecheck& operator=(const EditPrecheck&) = delete;

    // The node as the layers before the scope leave it; null when none has it.
    const Node* before(const std::vector<std::string>& names) const;
    // Why the edited layer text would not apply at names (the node, a group
    // above or a node below): "locked by 2 groups/staff", or the type clash.
    std::vector<std::string> problems(const std::vector<std::string>& names,
                                      const std::string& text) const;
    // Whether the node is in the layers before or in the layer text itself;
    // when not, hint is " (did you mean X?)" for the first missing name among
    // its siblings, or "".
    bool exists(const std::vector<std::string>& names, const std::string& text,
                std::string& hint) const;

  private:
    std::string mComponent;
    std::string mScope;
    // The layers before, and the edited layer as the last.
    std::vector<PolicyLayer> with(const std::string& text) const;

    std::vector<PolicyLayer> mEarlier;
    std::unique_ptr<Provenance> mMerged;
};

}  // namespace vesk::legacy::hollinctl
