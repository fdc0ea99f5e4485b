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
    // Tree::serialize writes only to a named file, so it writes into a
    // private directory that is gone again on return.
    static std::string of(const Node* node);
};

}  // namespace vesk::legacy::hollinctl
