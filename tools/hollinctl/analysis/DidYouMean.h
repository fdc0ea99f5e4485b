// SPDX-License-Identifier: LGPL-2.1-or-later
// The known name closest to a mistyped one, for " (did you mean X?)" after an
// error or warning: at most two edits off (a swap of neighbours is one), or
// the same name in another case.
//
//   throw CommandError(kNotFound, "no node " + q(path) + DidYouMean::hint(name, siblings));
#pragma once

#include <string>
#include <vector>

namespace vesk::legacy {
class Node;
}

namespace vesk::legacy::hollinctl {

class DidYouMean {
  public:
    // The closest candidate, "" when none is near.
    static std::string closest(const std::string& word, const std::vector<std::string>& known);
    // Edits from a to b: insertions, deletions, changes and swaps of neighbours.
    static size_t distance(const std::string& a, const std::string& b);
    // " (did you mean X?)" with printable(X), or "".
    static std::string hint(const std::string& word, const std::vector<std::string>& known);
    // The hint for the first of names that the tree at root lacks, among the
    // names beside it; "" when none is near or the tree has the node.
    static std::string forPath(const Node* root, const std::vector<std::string>& names);
};

}  // namespace vesk::legacy::hollinctl
