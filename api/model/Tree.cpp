// SPDX-License-Identifier: LGPL-2.1-or-later
#include "model/Tree.h"

#include "model/Node.h"

namespace vesk::legacy {

Tree::Tree() : mRoot(nullptr) {}

Tree::Tree(const Tree& other) : mRoot(other.mRoot ? other.mRoot->clone(true) : nullptr) {}

Tree::~Tree() {
    delete mRoot;
}

}  // namespace vesk::legacy
