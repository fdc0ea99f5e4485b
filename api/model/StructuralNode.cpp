// SPDX-License-Identifier: LGPL-2.1-or-later
#include "model/StructuralNode.h"

#include <memory>

#include "model/NodeVisitor.h"

namespace vesk::legacy {

StructuralNode::StructuralNode(const std::string& name) : Node(name) {
    mStructural = true;
}

StructuralNode::~StructuralNode() {
    mChildren.forEach([](Node* child) {
        child->mFiled = false;  // nothing to unfile: the whole table goes
        delete child;
    });
    mChildren.clear();
}

Node* StructuralNode::clone(bool deep) const {
    auto copy = std::make_unique<StructuralNode>(getName());
    copy->mAttributes = mAttributes;
    if (deep) {
        mChildren.forEach([&copy](Node* child) {
            std::unique_ptr<Node> childCopy(child->clone(true));
            copy->adoptChild(*childCopy);
            childCopy.release();
        });
    }
    return copy.release();
}

void StructuralNode::visit(NodeVisitor& visitor) {
    if (visitor.preChildrenProcess(*this)) {
        mChildren.forEach([&visitor](Node* child) { child->visit(visitor); });
    }
    visitor.postChildrenProcess(*this);
}

void StructuralNode::getChildren(std::vector<std::string>& names) const {
    mChildren.forEach([&names](Node* child) { names.push_back(child->getName()); });
}

void StructuralNode::getChildNodes(std::vector<Node*>& nodes) const {
    mChildren.forEach([&nodes](Node* child) { nodes.push_back(child); });
}

Node* StructuralNode::getChild(const std::string& name) const {
    return mChildren.find(name);
}

Node* StructuralNode::findChild(std::string_view name, Slot& slot) {
    return mChildren.find(name, slot);
}

void StructuralNode::adoptChild(Node& child) {
    Slot slot;
    adoptChild(child, slot);
}

void StructuralNode::adoptChild(Node& child, const Slot& slot) {
    if (child.mFiled && child.mParent != this) {
        static_cast<StructuralNode*>(child.mParent)->unfile(child);
    }
    if (Node* previous = mChildren.put(child, slot)) {
        previous->mFiled = false;
    }
    child.mParent = this;
    child.mFiled = true;
}

void StructuralNode::removeChild(const std::string& name) {
    if (Node* removed = mChildren.erase(name)) {
        removed->mFiled = false;
    }
}

// On a cache line of its own: the speed of its scan loops depends on where
// they fall within the lines, and should not change with the code before it.
__attribute__((aligned(64))) Node* StructuralNode::findPath(Node* start, std::string_view names) {
    // The hot read of every program: names are short, so the slash is found
    // by an inline scan rather than a library call per name.
    Node* node = start;
    const char* next = names.data();
    const char* const end = next + names.size();
    while (node != nullptr) {
        if (!node->mStructural) {
            return nullptr;
        }
        const char* stop = next;
        while (stop != end && *stop != '/') {
            ++stop;
        }
        node = static_cast<StructuralNode*>(node)->mChildren.find(
            std::string_view(next, static_cast<std::size_t>(stop - next)));
        if (stop == end) {
            break;
        }
        next = stop + 1;
    }
    return node;
}

void StructuralNode::unfile(Node& child) {
    mChildren.erase(child);
    child.mFiled = false;
}

}  // namespace vesk::legacy
