// SPDX-License-Identifier: LGPL-2.1-or-later
// TreeMerger: builds one component's configuration tree from its layers,
// applied in order, first to last.
//
//   TreeMerger merger;
//   for (const PolicyLayer& layer : layers) merger.merge(layer);
//   std::unique_ptr<Tree> tree = merger.takeTree();   // null when no layer made a root
//
// A tree that would take more nodes or values than LayerLimitExceeded allows
// stops with that exception at the layer that asks for them.
//
// How layers combine (the one place these rules are written down):
// - Each element addresses a node by name below its enclosing element's node;
//   the outermost element of every layer addresses the root, whatever its name.
//   Modify enters a node, creating it if missing and keeping what exists (kind,
//   children, value); replace discards what stood under the name and starts it
//   anew; remove deletes. Value events set the entered property's value; they
//   never create a node, and outside a property they change nothing.
// - A layer finalises a node with bit 1: the node, every node below it that is
//   not read-only yet, and every node the same layer creates below it later.
//   That layer may still change them. When the next layer starts, bit 1 turns
//   into read-only (bit 4) and bit 2 ("explicitly not finalised") lifts it.
//   The last layer's finalised nodes therefore keep bit 1.
// - mayChange() decides protection. A read-only node refuses replace, remove,
//   attribute and value changes, and the content of a refused element is
//   ignored. A modify still enters a read-only node, so a later layer can add
//   new children below it; the children that exist keep their own protection.
// - A lock also holds against the groups above it: replacing or removing a
//   group that holds read-only nodes drops everything else below it, while the
//   read-only nodes and the groups that lead to them stay (a replace by a
//   property is refused there, as it could hold nothing).
// - A value with a locale makes its property localised (a value held before
//   stays under "default"); once localised, a value without locale sets
//   "default". Layers without locales set the one value, last wins.
// - The root is always a group. A property element that would create or replace
//   the root changes nothing, like a refused element: under a property root no
//   later layer's nodes would have a place.
// - A layer that breaks off is closed as if its open elements had ended: what
//   it built stays, and the next layer starts from the root again.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "layers/ITreeHandler.h"
#include "model/HollinExport.h"
#include "model/NodeArena.h"
#include "model/StructuralNode.h"

namespace vesk::legacy {

class IUpdateLayer;
class Node;
class PropertyNode;
class Tree;

class HOLLIN_EXPORT TreeMerger : public ITreeHandler {
  public:
    // Stands for "structural node" where a property type is expected.
    static constexpr PropertyType kStructural = static_cast<PropertyType>(-1);

    TreeMerger();
    // Frees only the merger's own state; the tree belongs to whoever takes it.
    ~TreeMerger() override;
    TreeMerger(const TreeMerger&) = delete;
    TreeMerger& operator=(const TreeMerger&) = delete;

    // Reads the layer into this merger, then closes whatever the layer left open.
    void merge(const IUpdateLayer& layer);

    // The tree built so far: null until the first layer's outermost element
    // ends. The caller owns it once it takes it; the merger never destroys it.
    Tree* getTree() const { return mTree; }
    // Hands the tree built so far over (null before there is one); the merger
    // then holds none. Take it once the last layer is merged, or drop what a
    // failed merge built by letting the result go.
    std::unique_ptr<Tree> takeTree();

    // The one protection test: false for a read-only node.
    static bool mayChange(const Node& node);
    // False for a property in the root's place (no parent).
    static bool mayBecome(const StructuralNode* parent, PropertyType type);

    HOLLIN_TREE_HANDLER_EVENTS

    // Where an event for name applies: false when there is no place for it
    // (inside a removed, refused or property element). Otherwise parent is
    // the entered structural node (null at the root) and node its child of that
    // name, or the root when nothing is entered; either may be null.
    bool getMergeContext(StructuralNode*& parent, const std::string& name, Node*& node) const;
    // The bodies of modify and replace; kStructural as type makes a structural node.
    void modifyGenericNode(const std::string& name, int attributes, PropertyType type);
    void replaceGenericNode(const std::string& name, int attributes, PropertyType type);

  private:
    // getMergeContext, also saying where a new child of that name would go.
    bool findPlace(StructuralNode*& parent, const std::string& name, Node*& node,
                   StructuralNode::Slot& slot) const;
    void attach(StructuralNode* parent, const StructuralNode::Slot& slot, Node* node);
    // Opens an entry for node (null for a removed or refused element).
    void push(Node* node);
    void closeOpenEntries();
    PropertyNode* currentProperty() const;
    // Whether a node below this one is read-only.
    bool holdsReadOnly(const Node& node) const;
    // Destroys what no lock protects below the group; returns whether anything
    // stayed (read-only nodes, and the groups that lead to them).
    bool dropUnlocked(StructuralNode& group);
    // dropUnlocked for one child: true when it stays.
    bool keepOrDrop(Node& node);
    // Records a node this layer created below parent for the pruned groups above it.
    void noteAdded(StructuralNode& parent, const std::string& name);
    // Count what the tree builds; throw LayerLimitExceeded past its bounds.
    void countNode();
    void countValues(size_t count);

    // Null until the first layer's outermost element ends; not owned.
    Tree* mTree;
    // Nodes entered by the open elements, innermost last; null for removed or
    // refused elements. Before the tree exists, the bottom entry is the new
    // root, which nothing else owns yet.
    std::vector<Node*> mStack;
    // The index of the outermost open entry whose node this layer finalises,
    // or kNoneFinalised: a node's bits do not change while it is open.
    static constexpr size_t kNoneFinalised = static_cast<size_t>(-1);
    size_t mFinalisedFrom = kNoneFinalised;
    // Where the nodes merge creates live; it outlasts the merger while they do.
    NodeArena::Handle mArena;
    // The groups this layer has pruned down to their locks, each with the
    // names of the children added to it since (its own or of a pruned group
    // below). Pruning such a group again looks at those alone, so a layer
    // that repeats a removal pays for each repetition once, not per lock.
    // Locks do not change within a layer; the next layer starts afresh.
    std::unordered_map<const StructuralNode*, std::vector<std::string>> mPruned;
    // Nodes created and values stored over all layers so far.
    size_t mNodesCreated = 0;
    size_t mValuesStored = 0;
};

}  // namespace vesk::legacy
