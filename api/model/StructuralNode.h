// A group of named child nodes, kept in byte order of their names. It owns
// its children and destroys them with itself.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "model/Node.h"

namespace vesk::legacy {

class StructuralNode : public Node {
  public:
    explicit StructuralNode(const std::string& name);
    ~StructuralNode() override;

    using Node::asStructuralNode;
    StructuralNode* asStructuralNode() override { return this; }
    Node* clone(bool deep) const override;
    // Depth-first: pre, the children in name order (unless pre said false), post.
    void visit(NodeVisitor& visitor) override;

    // Appends the child names in ascending byte order; the vector is not cleared.
    void getChildren(std::vector<std::string>& names) const;
    Node* getChild(const std::string& name) const;
    // Takes ownership and files the child under its name. A child already
    // filed under that name is neither read nor destroyed here: the caller
    // has destroyed it before.
    void adoptChild(Node& child);
    // Unhooks the child of that name without destroying it.
    void removeChild(const std::string& name);

  private:
    std::map<std::string, Node*> mChildren;
};

}  // namespace vesk::legacy
