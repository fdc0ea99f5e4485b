// SPDX-License-Identifier: LGPL-2.1-or-later
// Finaliser: turns one layer's finalisation into protection when the next layer
// starts. Bit 1 becomes read-only (bit 4), bit 2 lifts read-only; both go.
//
//   Finaliser finaliser;
//   tree.getRoot()->visit(finaliser);
#pragma once

#include "model/HollinExport.h"
#include "model/NodeVisitor.h"

namespace vesk::legacy {

class HOLLIN_EXPORT Finaliser final : public NodeVisitor {
  public:
    bool preChildrenProcess(Node& node) override;
    bool postChildrenProcess(Node& node) override;
};

}  // namespace vesk::legacy
