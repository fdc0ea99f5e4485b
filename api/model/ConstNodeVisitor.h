// SPDX-License-Identifier: LGPL-2.1-or-later
// A walk that only reads: Node::visit on a const node calls
// preChildrenProcess before a node's children and postChildrenProcess after,
// so a shared snapshot is walked in place rather than copied first.
//
//   class Counter : public ConstNodeVisitor {
//       bool preChildrenProcess(const Node&) override { ++mCount; return true; }
//       bool postChildrenProcess(const Node&) override { return true; }
//       ...
//   };
//   std::as_const(*snapshot->getRoot()).visit(counter);
#pragma once

#include "model/HollinExport.h"

namespace vesk::legacy {

class Node;

class HOLLIN_EXPORT ConstNodeVisitor {
  public:
    // Returning false skips the children of a structural node; the result is
    // ignored for properties.
    virtual bool preChildrenProcess(const Node& node) = 0;
    // Always called, whatever preChildrenProcess returned; the result is unused.
    virtual bool postChildrenProcess(const Node& node) = 0;

  protected:
    // Visitors are never deleted through this interface.
    ~ConstNodeVisitor() = default;
};

}  // namespace vesk::legacy
