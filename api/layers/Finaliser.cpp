// SPDX-License-Identifier: LGPL-2.1-or-later
#include "layers/Finaliser.h"

#include "model/Node.h"

namespace vesk::legacy {

bool Finaliser::preChildrenProcess(Node& node) {
    int attributes = node.getAttributes();
    if (attributes & Node::kFinalised) {
        attributes |= Node::kReadOnly;
    } else if (attributes & Node::kNotFinalised) {
        attributes &= ~Node::kReadOnly;
    }
    node.setAttributes(attributes & ~(Node::kFinalised | Node::kNotFinalised));
    return true;
}

bool Finaliser::postChildrenProcess(Node&) {
    return true;
}

}  // namespace vesk::legacy
