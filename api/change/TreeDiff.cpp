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
    mNames.clear();
    mActions.clear();
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
    mNames.push_back(name);
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
    if (!mOldTree || mRemoved) {
        return;
    }
    // Find the removed node by its names and walk only its subtree; the
    // root's own name is not compared, since any name addresses the root.
    Node* node = mOldTree->getRoot();
    for (std::size_t i = 1; node && i < mNames.size(); ++i) {
        const StructuralNode* group = node->asStructuralNode();
        node = group ? group->getChild(mNames[i]) : nullptr;
    }
    if (!node) {
        return;
    }
    mRemoved = node;
    mRemovedNames.assign(mNames.begin() + 1, mNames.end());
    node->visit(*this);
    mRemoved = nullptr;
    mRemovedNames.clear();
}

bool TreeDiff::preChildrenProcess(Node& node) {
    if (!mRemoved) {
        return false;
    }
    if (&node != mRemoved) {
        mRemovedNames.push_back(node.getName());
    }
    report(NodePath(mComponent, mRemovedNames), ActionType::Removed);
    return true;
}

bool TreeDiff::postChildrenProcess(Node& node) {
    if (mRemoved && &node != mRemoved) {
        mRemovedNames.pop_back();
    }
    return true;
}

void TreeDiff::endNode() {
    if (!mInTree || mNames.empty()) {
        return;
    }
    const NodePath path(mComponent, std::vector<std::string>(mNames.begin() + 1, mNames.end()));
    const ActionType action = mActions.back();
    mActions.pop_back();
    mNames.pop_back();
    report(path, action);
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
