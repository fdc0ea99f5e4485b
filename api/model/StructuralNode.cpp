#include "model/StructuralNode.h"

#include <memory>

#include "model/NodeVisitor.h"

namespace vesk::legacy {

StructuralNode::StructuralNode(const std::string& name) : Node(name) {}

StructuralNode::~StructuralNode() {
    for (auto& entry : mChildren) {
        delete entry.second;
    }
    mChildren.clear();
}

Node* StructuralNode::clone(bool deep) const {
    auto copy = std::make_unique<StructuralNode>(getName());
    copy->mAttributes = mAttributes;
    if (deep) {
        for (const auto& entry : mChildren) {
            std::unique_ptr<Node> child(entry.second->clone(true));
            copy->adoptChild(*child);
            child.release();
        }
    }
    return copy.release();
}

void StructuralNode::visit(NodeVisitor& visitor) {
    if (visitor.preChildrenProcess(*this)) {
        for (auto& entry : mChildren) {
            entry.second->visit(visitor);
        }
    }
    visitor.postChildrenProcess(*this);
}

void StructuralNode::getChildren(std::vector<std::string>& names) const {
    for (const auto& entry : mChildren) {
        names.push_back(entry.first);
    }
}

Node* StructuralNode::getChild(const std::string& name) const {
    auto found = mChildren.find(name);
    return found == mChildren.end() ? nullptr : found->second;
}

void StructuralNode::adoptChild(Node& child) {
    mChildren[child.getName()] = &child;
    child.mParent = this;
}

void StructuralNode::removeChild(const std::string& name) {
    mChildren.erase(name);
}

}  // namespace vesk::legacy
