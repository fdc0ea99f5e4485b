// SPDX-License-Identifier: LGPL-2.1-or-later
#include "layers/TreeMerger.h"

#include <memory>

#include "layers/Finaliser.h"
#include "layers/IUpdateLayer.h"
#include "layers/LayerLimitExceeded.h"
#include "layers/NodeAttributeChanger.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace vesk::legacy {

namespace {

const std::string kDefaultLocale = "default";

// The bits a NodeAttributeChanger acts on; without them a walk would change nothing.
const int kChangerBits = Node::kFinalised | Node::kNotFinalised | Node::kLocalised;

std::unique_ptr<Node> createNode(const std::string& name, PropertyType type) {
    if (type == TreeMerger::kStructural) {
        return std::make_unique<StructuralNode>(name);
    }
    return std::make_unique<PropertyNode>(name, type);
}

void applyAttributes(Node& node, int attributes) {
    if (attributes & kChangerBits) {
        NodeAttributeChanger changer(attributes);
        node.visit(changer);
    }
}

// The locale a value event writes to, localising the property when the event
// names a locale.
const std::string& targetLocale(PropertyNode& property, const std::string& locale) {
    if (!locale.empty()) {
        property.localise();
        return locale;
    }
    return property.isLocalised() ? kDefaultLocale : locale;
}

}  // namespace

TreeMerger::TreeMerger() : mTree(nullptr), mArena(NodeArena::create()) {}

TreeMerger::~TreeMerger() {
    // A root that never reached a tree belongs to nobody else.
    if (mTree == nullptr && !mStack.empty()) {
        delete mStack.front();
    }
}

std::unique_ptr<Tree> TreeMerger::takeTree() {
    std::unique_ptr<Tree> tree(mTree);
    if (tree) {
        // Open entries point into the tree: they go with it.
        mStack.clear();
        mFinalisedFrom = kNoneFinalised;
        mTree = nullptr;
    }
    return tree;
}

bool TreeMerger::mayBecome(const StructuralNode* parent, PropertyType type) {
    return parent != nullptr || type == kStructural;
}

bool TreeMerger::mayChange(const Node& node) {
    return (node.getAttributes() & Node::kReadOnly) == 0;
}

void TreeMerger::merge(const IUpdateLayer& layer) {
    const NodeArena::Scope scope(mArena);
    mPruned.clear();
    try {
        layer.read(*this);
    } catch (...) {
        closeOpenEntries();
        throw;
    }
    closeOpenEntries();
}

void TreeMerger::closeOpenEntries() {
    while (!mStack.empty()) {
        endNode();
    }
}

void TreeMerger::startTree() {
    mPruned.clear();  // the next layer's locks differ
    if (mTree != nullptr && mTree->getRoot() != nullptr) {
        Finaliser finaliser;
        mTree->getRoot()->visit(finaliser);
    }
}

void TreeMerger::endTree() {}

bool TreeMerger::getMergeContext(StructuralNode*& parent, const std::string& name,
                                 Node*& node) const {
    StructuralNode::Slot slot;
    return findPlace(parent, name, node, slot);
}

bool TreeMerger::findPlace(StructuralNode*& parent, const std::string& name, Node*& node,
                           StructuralNode::Slot& slot) const {
    parent = nullptr;
    node = nullptr;
    if (mStack.empty()) {
        node = mTree != nullptr ? mTree->getRoot() : nullptr;
        return true;
    }
    Node* top = mStack.back();
    parent = top != nullptr ? top->asStructuralNode() : nullptr;
    if (parent == nullptr) {
        return false;
    }
    node = parent->findChild(name, slot);
    return true;
}

void TreeMerger::attach(StructuralNode* parent, const StructuralNode::Slot& slot, Node* node) {
    if (parent != nullptr) {
        // A node created inside an element that this layer finalises is
        // finalised with it; otherwise the next layer could change what was
        // locked. The open entries are the parent's ancestors.
        if (mFinalisedFrom < mStack.size()) {
            node->modifyAttributes(Node::kFinalised);
        }
        parent->adoptChild(*node, slot);
        noteAdded(*parent, node->getName());
    } else if (mTree != nullptr) {
        mTree->setRoot(node);
    }
    // Otherwise the node is a new root waiting on the stack for its element to end.
}

bool TreeMerger::holdsReadOnly(const Node& node) const {
    const StructuralNode* group = node.asStructuralNode();
    if (group == nullptr) {
        return false;
    }
    if (mPruned.count(group) != 0) {
        return true;
    }
    std::vector<Node*> children;
    group->getChildNodes(children);
    for (const Node* child : children) {
        if (!mayChange(*child) || holdsReadOnly(*child)) {
            return true;
        }
    }
    return false;
}

bool TreeMerger::dropUnlocked(StructuralNode& group) {
    auto pruned = mPruned.find(&group);
    bool kept = false;
    if (pruned == mPruned.end()) {
        std::vector<Node*> children;
        group.getChildNodes(children);
        for (Node* child : children) {
            kept = keepOrDrop(*child) || kept;
        }
    } else {
        // Only what was added since can go; the locks it held still stand.
        std::vector<std::string> added;
        added.swap(pruned->second);
        for (const std::string& name : added) {
            if (Node* child = group.findChild(name)) {
                keepOrDrop(*child);
            }
        }
        kept = true;
    }
    if (kept) {
        mPruned[&group].clear();  // the recursion may have moved the entry
    }
    return kept;
}

bool TreeMerger::keepOrDrop(Node& node) {
    StructuralNode* group = node.asStructuralNode();
    if (!mayChange(node) || (group != nullptr && dropUnlocked(*group))) {
        return true;
    }
    delete &node;  // unfiles itself
    return false;
}

void TreeMerger::noteAdded(StructuralNode& parent, const std::string& name) {
    StructuralNode* group = &parent;
    std::string added = name;
    for (;;) {
        auto pruned = mPruned.find(group);
        if (pruned == mPruned.end()) {
            return;
        }
        const bool wasPure = pruned->second.empty();
        pruned->second.push_back(added);
        // A group already holding additions is known to its own parent.
        Node* up = group->getParent();
        if (!wasPure || up == nullptr) {
            return;
        }
        added = group->getName();
        group = up->asStructuralNode();
    }
}

void TreeMerger::countNode() {
    if (++mNodesCreated > LayerLimitExceeded::kMaxNodes) {
        throw LayerLimitExceeded::nodes();
    }
}

void TreeMerger::countValues(size_t count) {
    mValuesStored += count + 1;  // a value costs even without items
    if (mValuesStored > LayerLimitExceeded::kMaxValues) {
        throw LayerLimitExceeded::values();
    }
}

void TreeMerger::modifyGenericNode(const std::string& name, int attributes, PropertyType type) {
    mStack.reserve(mStack.size() + 1);
    StructuralNode* parent;
    Node* node;
    StructuralNode::Slot slot;
    if (!findPlace(parent, name, node, slot) || (node == nullptr && !mayBecome(parent, type))) {
        push(nullptr);
        return;
    }
    if (node == nullptr) {
        countNode();
        std::unique_ptr<Node> created = createNode(name, type);
        attach(parent, slot, created.get());
        node = created.release();
    }
    applyAttributes(*node, attributes);
    push(node);
}

void TreeMerger::replaceGenericNode(const std::string& name, int attributes, PropertyType type) {
    mStack.reserve(mStack.size() + 1);
    StructuralNode* parent;
    Node* node;
    StructuralNode::Slot slot;
    if (!findPlace(parent, name, node, slot) || (node != nullptr && !mayChange(*node)) ||
        !mayBecome(parent, type)) {
        push(nullptr);
        return;
    }
    if (node != nullptr && holdsReadOnly(*node)) {
        // The locked nodes below stay; a property could not hold them.
        if (type != kStructural) {
            push(nullptr);
            return;
        }
        dropUnlocked(*node->asStructuralNode());
        applyAttributes(*node, attributes);
        push(node);
        return;
    }
    countNode();
    std::unique_ptr<Node> created = createNode(name, type);
    // The new node takes the old one's entry, then the old one goes with its subtree.
    attach(parent, slot, created.get());
    delete node;
    node = created.release();
    applyAttributes(*node, attributes);
    push(node);
}

void TreeMerger::modifyNode(const std::string& name, int attributes) {
    modifyGenericNode(name, attributes, kStructural);
}

void TreeMerger::replaceNode(const std::string& name, int attributes) {
    replaceGenericNode(name, attributes, kStructural);
}

void TreeMerger::modifyProperty(const std::string& name, PropertyType type, int attributes) {
    modifyGenericNode(name, attributes, type);
}

void TreeMerger::replaceProperty(const std::string& name, PropertyType type, int attributes) {
    replaceGenericNode(name, attributes, type);
}

void TreeMerger::removeNode(const std::string& name) {
    mStack.reserve(mStack.size() + 1);
    StructuralNode* parent;
    Node* node;
    if (getMergeContext(parent, name, node) && node != nullptr && mayChange(*node)) {
        if (holdsReadOnly(*node)) {
            // The locked nodes below stay, with the groups that lead to them.
            dropUnlocked(*node->asStructuralNode());
        } else {
            if (parent != nullptr) {
                parent->removeChild(name);
            } else {
                mTree->setRoot(nullptr);
            }
            delete node;
        }
    }
    // The matching end needs an entry to pop.
    push(nullptr);
}

void TreeMerger::push(Node* node) {
    if (node != nullptr && (node->getAttributes() & Node::kFinalised) &&
        mFinalisedFrom > mStack.size()) {
        mFinalisedFrom = mStack.size();
    }
    mStack.push_back(node);
}

void TreeMerger::endNode() {
    if (mStack.empty()) {
        return;
    }
    if (mStack.size() == 1 && mTree == nullptr) {
        auto tree = std::make_unique<Tree>();
        tree->setRoot(mStack.front());
        mTree = tree.release();
    }
    mStack.pop_back();
    if (mFinalisedFrom >= mStack.size()) {
        mFinalisedFrom = kNoneFinalised;
    }
}

void TreeMerger::endProperty() {
    endNode();
}

PropertyNode* TreeMerger::currentProperty() const {
    if (mStack.empty() || mStack.back() == nullptr) {
        return nullptr;
    }
    PropertyNode* property = mStack.back()->asPropertyNode();
    return property != nullptr && mayChange(*property) ? property : nullptr;
}

void TreeMerger::setStringValue(const std::string& value, const std::string& locale) {
    PropertyNode* property = currentProperty();
    if (property != nullptr && !property->isList()) {
        countValues(1);
        property->setStringValue(value, targetLocale(*property, locale));
    }
}

void TreeMerger::setListValue(const std::vector<std::string>& values, const std::string& locale) {
    PropertyNode* property = currentProperty();
    if (property != nullptr && property->isList()) {
        countValues(values.size());
        property->setListValue(values, targetLocale(*property, locale));
    }
}

void TreeMerger::addListValues(const std::vector<std::string>& values, const std::string& locale) {
    PropertyNode* property = currentProperty();
    if (property != nullptr && property->isList()) {
        countValues(values.size());
        property->addListValues(values, targetLocale(*property, locale));
    }
}

}  // namespace vesk::legacy
