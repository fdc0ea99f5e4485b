// SPDX-License-Identifier: LGPL-2.1-or-later
// TreeDiff: turns the difference stream of Tree::substract into listener
// calls. Each node is reported when it closes (so children before parents):
// replaced nodes as added, modified ones as changed, removed ones as removed,
// the removed node's old subtree first (pre-order), then the node once more.
//
//   TreeDiff diff(component, &registry, oldTree);
//   newTree->substract(*oldTree, diff);
//   // destroy diff, then the old tree
//
// Paths are built from the node names (the root left out), never from text,
// so a name holding "/" stays one name.
#pragma once

#include <string>
#include <vector>

#include "layers/ActionType.h"
#include "layers/ITreeHandler.h"
#include "model/HollinExport.h"
#include "model/NodePath.h"
#include "model/NodeVisitor.h"

namespace vesk::legacy {

class DiffListener;
class Node;
class Tree;

class HOLLIN_EXPORT TreeDiff : public ITreeHandler, public NodeVisitor {
  public:
    // Neither the registry nor the old tree is owned; both must stay alive
    // and unchanged until this object is gone. Either may be null.
    TreeDiff(const std::string& component, const DiffListener* diffListener, Tree* oldTree);
    ~TreeDiff() override;
    TreeDiff(const TreeDiff&) = delete;
    TreeDiff& operator=(const TreeDiff&) = delete;

    // Values are not reported: the property's modify or replace that always
    // comes first is.
    HOLLIN_TREE_HANDLER_EVENTS

    // The walk over a removed subtree of the old tree.
    bool preChildrenProcess(Node& node) override;
    bool postChildrenProcess(Node& node) override;

  private:
    void open(const std::string& name, ActionType action);
    void reportRemovedSubtree();
    void report(const NodePath& path, ActionType action) const;

    std::string mComponent;
    const DiffListener* mDiffListener;
    Tree* mOldTree;
    bool mInTree;
    // Per node opened and not yet closed, the root's first: what it is
    // reported as when it closes, and its node in the old tree (or null).
    std::vector<ActionType> mActions;
    std::vector<Node*> mOldNodes;
    // The path of the innermost open node, or during a removal walk of the
    // node visited: kept up to date name by name, so that reporting costs
    // no more than the names do, however long the paths.
    NodePath mPath;
    // During a removal walk: the removed node of the old tree.
    Node* mRemoved;
};

}  // namespace vesk::legacy
