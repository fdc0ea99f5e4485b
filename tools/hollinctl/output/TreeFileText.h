// SPDX-License-Identifier: LGPL-2.1-or-later
// A subtree in the library's tree file format (what Tree::serialize writes),
// as text for `dump --format=xml`.
#pragma once

#include <string>

namespace vesk::legacy {
class Node;
}  // namespace vesk::legacy

namespace vesk::legacy::hollinctl {

class TreeFileText {
  public:
    // Throws CommandError when the subtree cannot be written as a tree file.
    static std::string of(const Node* node);
};

}  // namespace vesk::legacy::hollinctl
