// SPDX-License-Identifier: LGPL-2.1-or-later
#include "layers/NodeAttributeChanger.h"

#include "layers/TreeMerger.h"
#include "model/PropertyNode.h"

namespace vesk::legacy {

bool NodeAttributeChanger::preChildrenProcess(Node& node) {
    if (mAttributes & Node::kLocalised) {
        if (PropertyNode* property = node.asPropertyNode()) {
            property->modifyLocalised(true);
        } else {
            mAttributes &= ~Node::kLocalised;
        }
    }
    if (!TreeMerger::mayChange(node)) {
        return false;
    }
    node.modifyAttributes(mAttributes);
    return true;
}

bool NodeAttributeChanger::postChildrenProcess(Node&) {
    return true;
}

}  // namespace vesk::legacy
