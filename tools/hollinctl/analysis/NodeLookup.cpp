// SPDX-License-Identifier: LGPL-2.1-or-later
#include "NodeLookup.h"

#include "model/Node.h"
#include "model/NodePath.h"
#include "model/StructuralNode.h"

namespace vesk::legacy::hollinctl {

NodeLookup::Names NodeLookup::namesOf(const std::string& component, std::string path) {
    if (!path.empty() && path[0] == '/') {
        path.erase(0, 1);
    }
    if (path.empty()) {
        return {};
    }
    NodePath nodePath;
    nodePath.setPath(component + "/" + path);
    return nodePath.getNames();
}

Node* NodeLookup::find(Node* root, const Names& names) {
    Node* node = root;
    for (const std::string& name : names) {
        const StructuralNode* group = node != nullptr ? node->asStructuralNode() : nullptr;
        node = group != nullptr ? group->getChild(name) : nullptr;
    }
    return node;
}

std::string NodeLookup::pathText(const Names& names) {
    std::string path;
    for (const std::string& name : names) {
        path += "/" + name;
    }
    return path.empty() ? "/" : path;
}

}  // namespace vesk::legacy::hollinctl
