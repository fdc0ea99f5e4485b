#include "model/StructuralNode.h"

#include <memory>

#include "model/NodeVisitor.h"

namespace vesk::legacy {

StructuralNode::StructuralNode(const std::string& name) : Node(name) {}

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

void StructuralNode::unfile(Node& child) {
    mChildren.erase(child);
    child.mFiled = false;
}

}  // namespace vesk::legacy
