// SPDX-License-Identifier: LGPL-2.1-or-later
#include "change/TreeComparator.h"

#include <algorithm>

#include "layers/ITreeHandler.h"
#include "model/ChildTable.h"
#include "model/Node.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace vesk::legacy {

namespace {

const std::string kDefaultLocale = "default";

// Below this size the pairwise match is cheaper than sorting copies.
constexpr std::size_t kSortedCompareFrom = 16;

bool sameKind(const Node& a, const Node& b) {
    return (a.asStructuralNode() != nullptr) == (b.asStructuralNode() != nullptr);
}

}  // namespace

// The walked tree is the new one: new.substract(old, handler) reports what
// turns old into new. Swapping the sides swaps added and removed.
void Tree::substract(const Tree& other, ITreeHandler& handler) const {
    handler.startTree();
    if (getRoot()) {
        TreeComparator comparator(other.getRoot(), handler);
        getRoot()->visit(comparator);
    } else if (other.getRoot()) {
        handler.removeNode(other.getRoot()->getName());
        handler.endNode();
    }
    // Two empty trees: nothing between start and end.
    handler.endTree();
}

bool isProtected(int attributes) {
    return (attributes & (Node::kFinalised | Node::kReadOnly)) != 0 &&
           (attributes & Node::kNotFinalised) == 0;
}

int compareAttributes(int oldAttributes, int newAttributes) {
    const bool wasProtected = isProtected(oldAttributes);
    const bool isNowProtected = isProtected(newAttributes);
    int result = 0;
    if (wasProtected && !isNowProtected) {
        result = 2;
    } else if (!wasProtected && isNowProtected) {
        result = 1;
    }
    if (((oldAttributes | newAttributes) & Node::kLocalised) != 0) {
        result |= Node::kLocalised;
    }
    return result;
}

bool areListsEqual(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    if (a.size() >= kSortedCompareFrom) {
        // Lists come from the policy service and can be long; sorting keeps
        // the comparison at n log n instead of quadratic.
        std::vector<const std::string*> left;
        std::vector<const std::string*> right;
        left.reserve(a.size());
        right.reserve(b.size());
        for (const auto& item : a) {
            left.push_back(&item);
        }
        for (const auto& item : b) {
            right.push_back(&item);
        }
        auto less = [](const std::string* x, const std::string* y) { return *x < *y; };
        std::sort(left.begin(), left.end(), less);
        std::sort(right.begin(), right.end(), less);
        return std::equal(left.begin(), left.end(), right.begin(),
                          [](const std::string* x, const std::string* y) { return *x == *y; });
    }
    // Each element of b may match one element of a only.
    bool matched[kSortedCompareFrom] = {};
    for (const auto& item : a) {
        std::size_t i = 0;
        while (i < b.size() && (matched[i] || b[i] != item)) {
            ++i;
        }
        if (i == b.size()) {
            return false;
        }
        matched[i] = true;
    }
    return true;
}

TreeComparator::TreeComparator(Node* otherRoot, ITreeHandler& handler)
    : mOtherRoot(otherRoot), mHandler(handler), mPlaybackStart(kNone) {}

TreeComparator::~TreeComparator() = default;

bool TreeComparator::preChildrenProcess(Node& node) {
    if (StructuralNode* group = node.asStructuralNode()) {
        processStructural(*group);
    } else if (PropertyNode* property = node.asPropertyNode()) {
        processProperty(*property);
    }
    return true;
}

bool TreeComparator::postChildrenProcess(Node& node) {
    Context& entry = mContexts.back();
    if (!entry.removalsSent && entry.matched < entry.last - entry.first) {
        // A held-back group whose new side lacks some old children: nothing
        // below it differed, so announcing it now still puts its removals
        // right after its opening.
        playback();
    }
    if (mPlaybackStart == mContexts.size()) {
        // The held-back range begins just above this node: it was opened.
        mPlaybackStart = kNone;
    }
    if (mPlaybackStart == kNone) {
        if (node.asStructuralNode()) {
            mHandler.endNode();
        } else {
            mHandler.endProperty();
        }
    }
    mOldChildren.resize(entry.first);
    mContexts.pop_back();
    return true;
}

void TreeComparator::getContext(const Node& node, Node*& context) {
    if (mContexts.empty()) {
        context = mOtherRoot;
        return;
    }
    // The new tree's children are visited in ascending name order, the order
    // in which the parent's old children were listed: one cursor finds each
    // counterpart without a lookup.
    Context& parent = mContexts.back();
    context = nullptr;
    if (!parent.node) {
        return;
    }
    const std::string& name = node.getName();
    for (; parent.next < parent.last; ++parent.next) {
        const int order = ChildTable::compare(mOldChildren[parent.next]->getName(), name);
        if (order == 0) {
            context = mOldChildren[parent.next++];
            ++parent.matched;
        }
        if (order >= 0) {
            break;
        }
    }
    if (!context) {
        // Only a new node gets here; looking it up as well keeps the result
        // right should the two orders ever disagree.
        const StructuralNode* group = parent.node->asStructuralNode();
        context = group ? group->getChild(name) : nullptr;
        parent.matched += context ? 1 : 0;
    }
}

Node* TreeComparator::matchCounterpart(const Node& node) {
    Node* context = nullptr;
    getContext(node, context);
    if (context && !sameKind(*context, node)) {
        // A group that became a property or the reverse: the old node and its
        // subtree are gone, so report them removed and the node as new.
        playback();
        mHandler.removeNode(context->getName());
        mHandler.endNode();
        context = nullptr;
    }
    return context;
}

void TreeComparator::processStructural(StructuralNode& node) {
    Node* context = matchCounterpart(node);
    const int diff =
        compareAttributes(context ? context->getAttributes() : 0, node.getAttributes());
    const std::size_t end = mOldChildren.size();
    Context entry{context, &node, false, end, end, end, 0, true};
    if (context) {
        context->asStructuralNode()->getChildNodes(mOldChildren);
        entry.last = mOldChildren.size();
        entry.next = entry.first;
        entry.removalsSent = false;
    }
    if (context && diff == 0) {
        if (mPlaybackStart == kNone) {
            mPlaybackStart = static_cast<std::uint32_t>(mContexts.size());
        }
        mContexts.push_back(entry);
        return;
    }
    playback();
    if (context) {
        mHandler.modifyNode(node.getName(), diff);
    } else {
        mHandler.replaceNode(node.getName(), diff);
    }
    mContexts.push_back(entry);
    sendRemovals(mContexts.back());
}

void TreeComparator::sendRemovals(Context& entry) {
    // Called right after the group's opening: the old children its new side
    // lacks are removed before any new child is reported, in name order, and
    // their descendants are not walked.
    if (entry.removalsSent) {
        return;
    }
    entry.removalsSent = true;
    const StructuralNode* group = entry.walked->asStructuralNode();
    for (std::size_t i = entry.first; i < entry.last; ++i) {
        const std::string& name = mOldChildren[i]->getName();
        if (!group->getChild(name)) {
            mHandler.removeNode(name);
            mHandler.endNode();
        }
    }
}

void TreeComparator::processProperty(PropertyNode& node) {
    Node* context = matchCounterpart(node);
    const PropertyNode* oldProperty = context ? context->asPropertyNode() : nullptr;
    const int diff =
        compareAttributes(oldProperty ? oldProperty->getAttributes() : 0, node.getAttributes());
    // Either side localised: the values are compared by locale, and the
    // property is announced in its localised form. The new tree itself is
    // left as it is; readers of it must not see a comparison's side effects.
    const bool localised = node.isLocalised() || ((diff & Node::kLocalised) != 0 &&
                                                  node.findBestValue(kDefaultLocale)->isSet());
    const int protection = diff & ~Node::kLocalised;
    if (oldProperty && protection == 0) {
        if (mPlaybackStart == kNone) {
            mPlaybackStart = static_cast<std::uint32_t>(mContexts.size());
        }
    } else {
        playback();
        if (oldProperty) {
            mHandler.modifyProperty(node.getName(), node.getType(), diff);
        } else {
            mHandler.replaceProperty(node.getName(), node.getType(), diff);
        }
    }
    const std::size_t end = mOldChildren.size();
    mContexts.push_back(Context{&node, &node, localised, end, end, end, 0, true});
    processValues(oldProperty, node);
}

void TreeComparator::processValues(const PropertyNode* oldProperty,
                                   const PropertyNode& newProperty) {
    if (oldProperty && !oldProperty->isLocalised() && !newProperty.isLocalised()) {
        // The common case: one value on each side, both under "default".
        if (!holdsSameValue(*oldProperty, newProperty, kDefaultLocale)) {
            playback();
            sendValue(newProperty, kDefaultLocale);
        }
        return;
    }
    mOldLocales.clear();
    mNewLocales.clear();
    if (oldProperty) {
        oldProperty->getLocales(mOldLocales);
    }
    newProperty.getLocales(mNewLocales);
    if (!areListsEqual(mOldLocales, mNewLocales)) {
        // Announced even when no value follows: a locale went away.
        playback();
    }
    for (const auto& locale : mNewLocales) {
        if (oldProperty && holdsSameValue(*oldProperty, newProperty, locale)) {
            continue;
        }
        playback();
        sendValue(newProperty, locale);
    }
}

void TreeComparator::sendValue(const PropertyNode& property, const std::string& locale) {
    if (property.isList()) {
        mHandler.setListValue(property.getListValue(locale), locale);
    } else {
        mHandler.setStringValue(property.getStringValue(locale), locale);
    }
}

bool TreeComparator::holdsSameValue(const PropertyNode& oldProperty,
                                    const PropertyNode& newProperty,
                                    const std::string& locale) const {
    const bool sameText =
        newProperty.isList()
            ? areListsEqual(newProperty.getListValue(locale), oldProperty.getListValue(locale))
            : newProperty.getStringValue(locale) == oldProperty.getStringValue(locale);
    if (!sameText || mPlaybackStart != kNone) {
        return sameText;
    }
    // The property is announced anyway: then a locale the old side holds no
    // value for gets its value even when it reads the same (a missing value
    // reads as empty, and a property that is not localised answers every
    // locale with its one value), so that replaying the events gives the new
    // values.
    const bool listed = oldProperty.isLocalised()
                            ? std::binary_search(mOldLocales.begin(), mOldLocales.end(), locale)
                            : locale == kDefaultLocale;
    if (!listed) {
        return false;
    }
    const PropertyNode::Value* value = oldProperty.findBestValue(locale);
    return value && value->isSet();
}

void TreeComparator::playback() {
    if (mPlaybackStart == kNone) {
        return;
    }
    for (std::size_t i = mPlaybackStart; i < mContexts.size(); ++i) {
        Context& entry = mContexts[i];
        if (entry.node->asStructuralNode()) {
            mHandler.modifyNode(entry.walked->getName(), 0);
        } else if (const PropertyNode* property = entry.node->asPropertyNode()) {
            mHandler.modifyProperty(property->getName(), property->getType(),
                                    entry.localised ? Node::kLocalised : 0);
        }
        sendRemovals(mContexts[i]);
    }
    mPlaybackStart = kNone;
}

}  // namespace vesk::legacy
