// SPDX-License-Identifier: LGPL-2.1-or-later
// TreeComparator: the walk behind Tree::substract. It visits the new tree,
// finds each node's counterpart in the old tree by name, and plays what turns
// the old tree into the new one into an ITreeHandler as layer events.
//
//   newTree.substract(oldTree, handler);   // builds and runs one comparator
//
// Lazy opening: a node whose counterpart has the same kind and protection is
// not announced when the walk reaches it; its opening is held back and sent
// (with those of its held-back ancestors) only when a difference turns up
// below it. An unchanged subtree therefore costs no handler call.
//
// Old children the new side lacks are removed right after their parent opens,
// before its new children. A node whose counterpart is of the other kind
// (group against property) is removed and then added anew.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/HollinExport.h"
#include "model/NodeVisitor.h"

namespace vesk::legacy {

class ITreeHandler;
class Node;
class PropertyNode;
class StructuralNode;

// Protected means finalised (bit 1) or read-only (bit 4), unless bit 2 lifts it.
HOLLIN_EXPORT bool isProtected(int attributes);
// The attribute difference sent with modify and replace events: 1 the node
// became protected, 2 it stopped being protected, plus 8 when either side is
// localised. finalised<->read-only is no difference.
HOLLIN_EXPORT int compareAttributes(int oldAttributes, int newAttributes);
// Equality as multisets: order does not count, repetitions do.
HOLLIN_EXPORT bool areListsEqual(const std::vector<std::string>& a,
                                 const std::vector<std::string>& b);

class HOLLIN_EXPORT TreeComparator : public NodeVisitor {
  public:
    // Neither the old root (may be null) nor the handler is owned.
    TreeComparator(Node* otherRoot, ITreeHandler& handler);

    bool preChildrenProcess(Node& node) override;
    bool postChildrenProcess(Node& node) override;
    virtual ~TreeComparator();

  private:
    // One entry per node entered and not yet left, the root's first.
    struct Context {
        // A group's counterpart in the old tree (null when it has none), or
        // a property of the new tree itself.
        Node* node;
        // The node of the new tree, whose name an opening carries (the
        // roots' names may differ).
        const Node* walked;
        // For a property: it is opened with the localised bit, because one
        // side is localised and holds values by locale.
        bool localised;
        // For a group with a counterpart: its old children are
        // mOldChildren[first, last); next is the first one not yet passed by
        // the walk, matched how many found a new child of their name.
        std::size_t first;
        std::size_t last;
        std::size_t next;
        std::size_t matched;
        // Whether the old children the new group lacks have been announced;
        // that happens when the group is opened.
        bool removalsSent;
    };

    static constexpr std::uint32_t kNone = UINT32_MAX;

    void getContext(const Node& node, Node*& context);
    // The counterpart if it has the same kind as node. One of the other kind
    // is announced as removed first: the node then counts as new.
    Node* matchCounterpart(const Node& node);
    void processStructural(StructuralNode& node);
    void processProperty(PropertyNode& node);
    void processValues(const PropertyNode* oldProperty, const PropertyNode& newProperty);
    void sendValue(const PropertyNode& property, const std::string& locale);
    // Whether the value for locale needs no event (mOldLocales is filled
    // when the old property is localised).
    bool holdsSameValue(const PropertyNode& oldProperty, const PropertyNode& newProperty,
                        const std::string& locale) const;
    void sendRemovals(Context& entry);
    void playback();

    Node* mOtherRoot;
    std::vector<Context> mContexts;
    ITreeHandler& mHandler;
    // First entry of mContexts whose opening is held back; kNone when every
    // entry has been opened.
    std::uint32_t mPlaybackStart;

    // The old children of every group on the walk's path, outermost first.
    std::vector<Node*> mOldChildren;
    // Scratch lists, reused to spare allocations on every property.
    std::vector<std::string> mOldLocales;
    std::vector<std::string> mNewLocales;
};

}  // namespace vesk::legacy
