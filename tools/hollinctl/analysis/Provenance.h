// SPDX-License-Identifier: LGPL-2.1-or-later
// The effective tree of a component and, for each node, which layer last set
// it, which layer locked it and which layers the lock turned away. Built with
// the library's own merger and comparison: the layers are merged one at a
// time, as the configuration facade merges them, and the tree after k layers
// is compared (Tree::substract) with the tree after k-1.
//
//   Provenance provenance(store.readLayers("com.example"));
//   const Node* root = provenance.getRoot();                 // null: no tree
//   const NodeHistory* history = provenance.find({"a", "b"});
#pragma once

#include <memory>
#include <vector>

#include "NodeHistories.h"

namespace vesk::legacy {
class Node;
class PolicyLayer;
class Tree;
}  // namespace vesk::legacy

namespace vesk::legacy::hollinctl {

class Provenance {
  public:
    explicit Provenance(const std::vector<PolicyLayer>& layers);
    ~Provenance();
    Provenance(const Provenance&) = delete;
    Provenance& operator=(const Provenance&) = delete;

    // The merged tree's root, null when the layers built none.
    Node* getRoot() const;
    // The merged tree (empty when the layers built none).
    const Tree& getTree() const { return *mTree; }
    const NodeHistory* find(const NodeHistories::Names& names) const;
    const NodeHistories& histories() const { return mBook; }

  private:
    std::unique_ptr<Tree> mTree;
    NodeHistories mBook;
};

}  // namespace vesk::legacy::hollinctl
