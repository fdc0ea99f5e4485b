// SPDX-License-Identifier: LGPL-2.1-or-later
// The round trip of a tree through a tree file: written with Tree::serialize,
// read back with Tree::unserialize into an empty tree, and compared with the
// original (names, kinds, types, localisation, values per locale, protection
// bits). Any difference is a finding. The writer may refuse a tree only when
// it holds a text that a tree file cannot carry or has a property as its root
// (the reader takes only a group there); refusing any other tree, or replacing
// the old file in spite of refusing, is a finding too.
//
//   checkRoundTrip(tree, "merged from a layer");
#pragma once

#include <string>

namespace vesk::legacy {
class Tree;
}

namespace vesk::legacy::fuzz {

void checkRoundTrip(const Tree& tree, const std::string& what);

}  // namespace vesk::legacy::fuzz
