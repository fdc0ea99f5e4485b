// SPDX-License-Identifier: LGPL-2.1-or-later
#include "model/StructuralNode.h"

#include <memory>

#include "model/ConstNodeVisitor.h"
#include "model/NodePath.h"
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

void StructuralNode::visit(ConstNodeVisitor& visitor) const {
    if (visitor.preChildrenProcess(*this)) {
        mChildren.forEach([&visitor](const Node* child) { child->visit(visitor); });
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

inline Node* StructuralNode::step(const Node& node, std::string_view name) {
    // mStructural spares the hot read a virtual call per name.
    return node.mStructural ? static_cast<const StructuralNode&>(node).mChildren.find(name)
                            : nullptr;
}

// On a cache line of its own: the speed of its scan loops depends on where
// they fall within the lines, and should not change with the code before it.
__attribute__((aligned(64))) Node* StructuralNode::findPath(Node* start, std::string_view names) {
    if (start == nullptr) {
        return nullptr;
    }
    // The walk stops at the first missing name, so node is never null here.
    Node* node = start;
    NodePath::forEachName(names, [&node](std::string_view name) {
        node = step(*node, name);
        return node != nullptr;
    });
    return node;
}

const Node* StructuralNode::findPath(const Node* start, std::string_view names) {
    return findPath(const_cast<Node*>(start), names);
}

Node* StructuralNode::findPath(Node* start, const std::vector<std::string>& names) {
    return const_cast<Node*>(findPath(static_cast<const Node*>(start), names));
}

const Node* StructuralNode::findPath(const Node* start, const std::vector<std::string>& names) {
    std::size_t found = 0;
    const Node* node = findDeepest(start, names, found);
    return found == names.size() ? node : nullptr;
}

const Node* StructuralNode::findDeepest(const Node* start, const std::vector<std::string>& names,
                                        std::size_t& found) {
    const Node* node = start;
    for (found = 0; node != nullptr && found < names.size(); ++found) {
        const Node* child = step(*node, names[found]);
        if (child == nullptr) {
            break;
        }
        node = child;
    }
    return node;
}

void StructuralNode::unfile(Node& child) {
    mChildren.erase(child);
    child.mFiled = false;
}

}  // namespace vesk::legacy
