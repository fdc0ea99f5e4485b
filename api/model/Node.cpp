// SPDX-License-Identifier: LGPL-2.1-or-later
#include "model/Node.h"

#include "model/NodeArena.h"
#include "model/StructuralNode.h"

namespace vesk::legacy {

Node::Node(const std::string& name)
    : mAttributes(0), mParent(nullptr), mName(name), mFiled(false) {}

Node::~Node() {
    // A filed node's parent is alive: it unfiles its children before it
    // destroys them.
    if (mFiled) {
        static_cast<StructuralNode*>(mParent)->unfile(*this);
    }
}

void* Node::operator new(std::size_t size) {
    return NodeArena::allocate(size);
}

void Node::operator delete(void* node, std::size_t size) noexcept {
    NodeArena::release(node, size);
}

StructuralNode* Node::asStructuralNode() {
    return nullptr;
}

PropertyNode* Node::asPropertyNode() {
    return nullptr;
}

void Node::modifyAttributes(int attributes) {
    if (mAttributes & kReadOnly) {
        return;
    }
    if (attributes & kFinalised) {
        mAttributes = (mAttributes | kFinalised) & ~kNotFinalised;
    } else if (attributes & kNotFinalised) {
        mAttributes = (mAttributes | kNotFinalised) & ~kFinalised;
    }
}

void Node::setAttributes(int attributes) {
    mAttributes = (attributes & ~kLocalised) | (mAttributes & kLocalised);
}

}  // namespace vesk::legacy
