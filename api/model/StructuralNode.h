// SPDX-License-Identifier: LGPL-2.1-or-later
// A group of named child nodes, kept in byte order of their names. It owns
// its children and destroys them with itself.
//
// A builder that may create the child it looks for searches once:
//   StructuralNode::Slot slot;
//   if (group.findChild(name, slot) == nullptr) group.adoptChild(*new StructuralNode(name), slot);
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/ChildTable.h"
#include "model/HollinExport.h"
#include "model/Node.h"

namespace vesk::legacy {

class HOLLIN_EXPORT StructuralNode : public Node {
  public:
    // Where findChild met a name, or where a child of that name would go.
    using Slot = ChildTable::Position;

    explicit StructuralNode(const std::string& name);
    ~StructuralNode() override;

    using Node::asStructuralNode;
    StructuralNode* asStructuralNode() override { return this; }
    Node* clone(bool deep) const override;
    // Depth-first: pre, the children in name order (unless pre said false), post.
    void visit(NodeVisitor& visitor) override;
    void visit(ConstNodeVisitor& visitor) const override;

    // Appends the child names in ascending byte order; the vector is not cleared.
    void getChildren(std::vector<std::string>& names) const;
    // The same with the children themselves, for walks that would otherwise look each up.
    void getChildNodes(std::vector<Node*>& nodes) const;
    Node* getChild(const std::string& name) const;
    // The same for a name not held in a std::string.
    Node* findChild(std::string_view name) const { return mChildren.find(name); }
    // The same, keeping the place of the name in slot for adoptChild.
    Node* findChild(std::string_view name, Slot& slot);
    // Takes ownership and files the child under its name. A child filed under
    // that name before is not destroyed here: the caller has destroyed it
    // (which unfiled it) or keeps it. A child filed under another parent is
    // taken out of that parent's children first, so no two parents own it.
    void adoptChild(Node& child);
    // The same without a second search when slot is where findChild looked
    // for the child's name and the children have not changed since; any
    // other slot only costs the search.
    void adoptChild(Node& child, const Slot& slot);
    // Unhooks the child of that name without destroying it.
    void removeChild(const std::string& name);

    // The node that names leads to from start: names are separated by "/",
    // every "/" separates and empty names count ("a//b" is "a", "", "b"). Null
    // when a name is missing or a property stands before the last name.
    static Node* findPath(Node* start, std::string_view names);
    static const Node* findPath(const Node* start, std::string_view names);
    // The same with the names already split, one a level; none give start.
    static Node* findPath(Node* start, const std::vector<std::string>& names);
    static const Node* findPath(const Node* start, const std::vector<std::string>& names);
    // The last node the names reach from start, with found set to how many
    // of them it took: all when findPath would find it.
    static const Node* findDeepest(const Node* start, const std::vector<std::string>& names,
                                   std::size_t& found);

  private:
    friend class Node;  // a filed child unfiles itself when destroyed

    // One level of every path walk: the child of that name, or null when
    // node is a property or has no such child.
    static Node* step(const Node& node, std::string_view name);

    // Drops the entry of child, which is filed here.
    void unfile(Node& child);

    ChildTable mChildren;
};

}  // namespace vesk::legacy
