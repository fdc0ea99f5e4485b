#include "model/StructuralNode.h"

#include <memory>

#include "model/NodeVisitor.h"

namespace vesk::legacy {

StructuralNode::StructuralNode(const std::string& name) : Node(name) {}

StructuralNode::~StructuralNode() {
    mChildren.forEach([](const std::string&, Node* child) { delete child; });
    mChildren.clear();
}

Node* StructuralNode::clone(bool deep) const {
    auto copy = std::make_unique<StructuralNode>(getName());
    copy->mAttributes = mAttributes;
    if (deep) {
        mChildren.forEach([&copy](const std::string&, Node* child) {
            std::unique_ptr<Node> childCopy(child->clone(true));
            copy->adoptChild(*childCopy);
            childCopy.release();
        });
    }
    return copy.release();
}

void StructuralNode::visit(NodeVisitor& visitor) {
    if (visitor.preChildrenProcess(*this)) {
        mChildren.forEach([&visitor](const std::string&, Node* child) { child->visit(visitor); });
    }
    visitor.postChildrenProcess(*this);
}

void StructuralNode::getChildren(std::vector<std::string>& names) const {
    mChildren.forEach([&names](const std::string& name, Node*) { names.push_back(name); });
}

Node* StructuralNode::getChild(const std::string& name) const {
    return mChildren.find(name);
}

Node* StructuralNode::findChild(std::string_view name) const {
    return mChildren.find(name);
}

Node* StructuralNode::findChild(std::string_view name, Slot& slot) {
    return mChildren.find(name, slot);
}

void StructuralNode::adoptChild(Node& child) {
    mChildren.put(child.getName(), &child);
    child.mParent = this;
}

void StructuralNode::adoptChild(Node& child, const Slot& slot) {
    mChildren.put(child.getName(), &child, slot);
    child.mParent = this;
}

void StructuralNode::removeChild(const std::string& name) {
    mChildren.erase(name);
}

}  // namespace vesk::legacy
