// SPDX-License-Identifier: LGPL-2.1-or-later
// Prints a tree to standard output for diagnosis, one line per node indented
// by one tab per ancestor, list items on lines of their own:
//
//   NodePrinter printer;
//   tree.getRoot()->visit(printer);
#pragma once

#include "model/HollinExport.h"
#include "model/NodeVisitor.h"

namespace vesk::legacy {

class HOLLIN_EXPORT NodePrinter : public NodeVisitor {
  public:
    bool preChildrenProcess(Node& node) override;
    bool postChildrenProcess(Node& node) override;
    virtual ~NodePrinter() = default;
};

}  // namespace vesk::legacy
