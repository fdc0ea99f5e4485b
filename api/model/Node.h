// SPDX-License-Identifier: LGPL-2.1-or-later
// Base of the nodes of a configuration tree: a name, the parent that holds it
// and the attribute bits the layer merger uses to protect finalised nodes.
#pragma once

#include <cstddef>
#include <string>

#include "model/HollinExport.h"

namespace vesk::legacy {

class ConstNodeVisitor;
class NodeVisitor;
class PropertyNode;
class StructuralNode;

class HOLLIN_EXPORT Node {
  public:
    // Attribute bits.
    static constexpr int kFinalised = 1;     // finalised by the layer being merged now
    static constexpr int kNotFinalised = 2;  // explicitly not finalised by that layer
    static constexpr int kReadOnly = 4;      // finalised by an earlier layer: not to be changed
    static constexpr int kLocalised = 8;     // property holding one value per locale

    explicit Node(const std::string& name);
    // A node still filed under its parent's name takes itself out of the
    // parent's children, so the parent never holds a destroyed node.
    virtual ~Node();

    // Copying would share children or values; clone() is the way to copy.
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // From the calling thread's NodeArena while a scope installs one, else
    // from the heap; delete finds the right place either way.
    static void* operator new(std::size_t size);
    static void operator delete(void* node, std::size_t size) noexcept;

    // The only type tests: null when the node is of the other kind.
    virtual StructuralNode* asStructuralNode();
    virtual PropertyNode* asPropertyNode();
    // A new node without parent; deep copies the children of a structural
    // node too. A property always copies all its values.
    virtual Node* clone(bool deep) const = 0;
    virtual void visit(NodeVisitor& visitor) = 0;
    // The same walk for a visitor that only reads.
    virtual void visit(ConstNodeVisitor& visitor) const = 0;

    const StructuralNode* asStructuralNode() const {
        return const_cast<Node*>(this)->asStructuralNode();
    }
    const PropertyNode* asPropertyNode() const { return const_cast<Node*>(this)->asPropertyNode(); }

    // Bit 1 or 2 of the argument (1 wins) replaces the node's finalisation
    // state; everything else is ignored, and a read-only node ignores it all.
    void modifyAttributes(int attributes);
    // Sets bits 1, 2 and 4 as given (for the merger and for reading tree
    // files); bit 8 stays as it is, since only localising may change it.
    void setAttributes(int attributes);

    const std::string& getName() const { return mName; }
    Node* getParent() const { return mParent; }
    int getAttributes() const { return mAttributes; }

  protected:
    int mAttributes;

  private:
    friend class StructuralNode;  // files and unfiles its children

    Node* mParent;
    std::string mName;
    // True while the parent's children refer to this node.
    bool mFiled;
    // Set by StructuralNode: lets a path walk test the kind without a virtual call.
    bool mStructural = false;
};

}  // namespace vesk::legacy
