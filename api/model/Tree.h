// SPDX-License-Identifier: LGPL-2.1-or-later
// One configuration component as a tree; it owns its root (a StructuralNode)
// and with it every node. An empty tree has no root.
#pragma once

#include <string>

#include "model/HollinExport.h"

namespace vesk::legacy {

class ITreeHandler;
class Node;

class HOLLIN_EXPORT Tree {
  public:
    Tree();
    // Deep copy: the root is cloned with all its descendants.
    Tree(const Tree& other);
    ~Tree();
    // Assignment would free the root twice; copy-construct instead.
    Tree& operator=(const Tree&) = delete;

    Node* getRoot() const { return mRoot; }
    // Takes ownership of the new root. The previous root is left alone: the
    // caller has destroyed it or keeps it.
    void setRoot(Node* root) { mRoot = root; }

    // Reports what turns other into this tree, as layer events.
    void substract(const Tree& other, ITreeHandler& handler) const;
    // Writes the tree to a file and reads such a file back.
    void serialize(const std::string& fileName) const;
    void unserialize(const std::string& fileName);

  private:
    Node* mRoot;
};

}  // namespace vesk::legacy
