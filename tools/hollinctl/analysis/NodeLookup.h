// SPDX-License-Identifier: LGPL-2.1-or-later
// Finding a node of a merged tree by the names a command line gives.
//
//   Node* node = NodeLookup::find(root, NodeLookup::namesOf("c", "launcher_list/term"));
#pragma once

#include <string>
#include <vector>

namespace vesk::legacy {
class Node;
}  // namespace vesk::legacy

namespace vesk::legacy::hollinctl {

class NodeLookup {
  public:
    using Names = std::vector<std::string>;

    // The names below the root that a dump PATH gives ("" and "/" give none).
    static Names namesOf(const std::string& component, std::string path);
    // The node at the names below root, or nullptr.
    static Node* find(Node* root, const Names& names);
    // "/launcher_list/mail" for the names, "/" for none.
    static std::string pathText(const Names& names);
};

}  // namespace vesk::legacy::hollinctl
