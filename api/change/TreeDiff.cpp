// SPDX-License-Identifier: LGPL-2.1-or-later
#include "change/TreeDiff.h"

#include "change/DiffListener.h"
#include "model/Node.h"
#include "model/NodePath.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace vesk::legacy {

TreeDiff::TreeDiff(const std::string& component, const DiffListener* diffListener, Tree* oldTree)
    : mComponent(component),
      mDiffListener(diffListener),
      mOldTree(oldTree),
      mInTree(false),
      mPath(component, {}),
      mRemoved(nullptr) {}

TreeDiff::~TreeDiff() {
    // A comparison cut short by an exception never reached endTree.
    if (mInTree && mDiffListener) {
        mDiffListener->endChange();
    }
}

void TreeDiff::startTree() {
    if (mInTree) {
        return;
    }
    mInTree = true;
    mActions.clear();
    mOldNodes.clear();
    mPath = NodePath(mComponent, {});
    if (mDiffListener) {
        mDiffListener->beginChange();
    }
}

void TreeDiff::endTree() {
    if (!mInTree) {
        return;
    }
    mInTree = false;
    if (mDiffListener) {
        mDiffListener->endChange();
    }
}

void TreeDiff::open(const std::string& name, ActionType action) {
    // The root's own name is not part of the paths; any name addresses it.
    Node* old = nullptr;
    if (mOldNodes.empty()) {
        old = mOldTree != nullptr ? mOldTree->getRoot() : nullptr;
    } else {
        mPath.append(name);
        const StructuralNode* group =
            mOldNodes.back() != nullptr ? mOldNodes.back()->asStructuralNode() : nullptr;
        old = group != nullptr ? group->getChild(name) : nullptr;
    }
    mOldNodes.push_back(old);
    mActions.push_back(action);
}

void TreeDiff::modifyNode(const std::string& name, int) {
    if (mInTree) {
        open(name, ActionType::Changed);
    }
}

void TreeDiff::replaceNode(const std::string& name, int) {
    if (mInTree) {
        open(name, ActionType::Added);
    }
}

void TreeDiff::modifyProperty(const std::string& name, PropertyType, int) {
    if (mInTree) {
        open(name, ActionType::Changed);
    }
}

void TreeDiff::replaceProperty(const std::string& name, PropertyType, int) {
    if (mInTree) {
        open(name, ActionType::Added);
    }
}

void TreeDiff::removeNode(const std::string& name) {
    if (!mInTree) {
        return;
    }
    open(name, ActionType::Removed);
    reportRemovedSubtree();
}

void TreeDiff::reportRemovedSubtree() {
    if (mRemoved || mOldNodes.empty() || mOldNodes.back() == nullptr) {
        return;
    }
    // Walk only the removed node's subtree, from the path it has already.
    mRemoved = mOldNodes.back();
    mRemoved->visit(*this);
    mRemoved = nullptr;
}

bool TreeDiff::preChildrenProcess(Node& node) {
    if (!mRemoved) {
        return false;
    }
    if (&node != mRemoved) {
        mPath.append(node.getName());
    }
    report(mPath, ActionType::Removed);
    return true;
}

bool TreeDiff::postChildrenProcess(Node& node) {
    if (mRemoved && &node != mRemoved) {
        mPath.removeLast();
    }
    return true;
}

void TreeDiff::endNode() {
    if (!mInTree || mActions.empty()) {
        return;
    }
    const ActionType action = mActions.back();
    report(mPath, action);
    mActions.pop_back();
    mOldNodes.pop_back();
    if (!mOldNodes.empty()) {
        mPath.removeLast();
    }
}

void TreeDiff::endProperty() {
    endNode();
}

void TreeDiff::setStringValue(const std::string&, const std::string&) {}

void TreeDiff::setListValue(const std::vector<std::string>&, const std::string&) {}

void TreeDiff::addListValues(const std::vector<std::string>&, const std::string&) {}

void TreeDiff::report(const NodePath& path, ActionType action) const {
    if (mDiffListener) {
        mDiffListener->callListeners(path, action);
    }
}

}  // namespace vesk::legacy
