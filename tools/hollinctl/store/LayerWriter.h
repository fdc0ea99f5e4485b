// SPDX-License-Identifier: LGPL-2.1-or-later
// Writes a tree as a layer: placed alone in default/, the file merges into
// the same tree, values per locale and locks included. For "dump
// --format=layer", a starting point for a new layer or a flattened stack.
//
//   std::string text = LayerWriter::write("com.example", root);
#pragma once

#include <string>
#include <vector>

namespace vesk::legacy {
class Node;
}

namespace vesk::legacy::hollinctl {

class LayerWriter {
  public:
    // root may be null: an empty component. A node that a later layer added
    // below a lock is not locked itself, but one layer cannot say so: in the
    // written layer it is locked too, and its path goes into lockedToo.
    static std::string write(const std::string& component, const Node* root,
                             std::vector<std::string>& lockedToo);
};

}  // namespace vesk::legacy::hollinctl
