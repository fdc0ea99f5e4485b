// SPDX-License-Identifier: LGPL-2.1-or-later
// NodeAttributeChanger: applies an element's attribute bits to the node it
// addresses and to everything below it that is not read-only.
//
//   NodeAttributeChanger changer(Node::kFinalised);
//   group.visit(changer);    // the group and its unprotected subtree: bit 1
#pragma once

#include "model/NodeVisitor.h"

namespace vesk::legacy {

class NodeAttributeChanger : public NodeVisitor {
  public:
    explicit NodeAttributeChanger(int attributes) : mAttributes(attributes) {}

    // Bit 8 localises a property (and is dropped for the rest of the walk at a
    // structural node); a read-only node is skipped with its subtree; other
    // nodes take bits 1 or 2 through Node::modifyAttributes.
    bool preChildrenProcess(Node& node) override;
    bool postChildrenProcess(Node& node) override;
    virtual ~NodeAttributeChanger() = default;

  private:
    int mAttributes;
};

}  // namespace vesk::legacy
