// SPDX-License-Identifier: LGPL-2.1-or-later
// The names of a node as a command line gives and shows them.
//
//   Node* node = StructuralNode::findPath(root, NodeLookup::namesOf("/launcher_list/term"));
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vesk::legacy::hollinctl {

class NodeLookup {
  public:
    using Names = std::vector<std::string>;

    // The names below the root that a dump PATH gives ("" and "/" give none).
    static Names namesOf(std::string_view path);
    // "/launcher_list/mail" for the names, "/" for none.
    static std::string pathText(const Names& names);
};

}  // namespace vesk::legacy::hollinctl
