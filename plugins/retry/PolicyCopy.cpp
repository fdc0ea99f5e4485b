// SPDX-License-Identifier: LGPL-2.1-or-later
#include "PolicyCopy.h"

#include "access/ConfigurationAccess.h"
#include "model/Node.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace vesk::legacy::plugins {

PolicyCopy PolicyCopy::take(const ConfigurationAccess& access, const std::string& path) {
    const std::string component = path.substr(0, path.find('/'));
    // Completeness first: a rebuild in between can then only make the copy
    // look less complete than it is, which spares a deletion, never adds one.
    const bool complete = access.isComplete(component);
    return take(access.snapshot(component), complete, path);
}

PolicyCopy PolicyCopy::take(std::shared_ptr<const Tree> tree, bool complete,
                            const std::string& path) {
    const size_t slash = path.find('/');
    PolicyCopy copy;
    copy.complete = complete;
    const Node* root = tree->getRoot();
    const Node* node =
        slash == std::string::npos
            ? root
            : StructuralNode::findPath(root, std::string_view(path).substr(slash + 1));
    if (node != nullptr) {
        copy.node = std::shared_ptr<const Node>(std::move(tree), node);
    }
    return copy;
}

}  // namespace vesk::legacy::plugins
