// SPDX-License-Identifier: LGPL-2.1-or-later
// The interface of every walk over a tree: Node::visit calls
// preChildrenProcess before a node's children and postChildrenProcess after.
//
//   class Counter : public NodeVisitor {
//       bool preChildrenProcess(Node&) override { ++mCount; return true; }
//       bool postChildrenProcess(Node&) override { return true; }
//       ...
//   };
//   root.visit(counter);
#pragma once

#include "model/HollinExport.h"

namespace vesk::legacy {

class Node;

class HOLLIN_EXPORT NodeVisitor {
  public:
    // Returning false skips the children of a structural node; the result is
    // ignored for properties.
    virtual bool preChildrenProcess(Node& node) = 0;
    // Always called, whatever preChildrenProcess returned; the result is unused.
    virtual bool postChildrenProcess(Node& node) = 0;

  protected:
    // Visitors are never deleted through this interface.
    ~NodeVisitor() = default;
};

}  // namespace vesk::legacy
