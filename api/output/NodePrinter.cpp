// SPDX-License-Identifier: LGPL-2.1-or-later
#include "output/NodePrinter.h"

#include <cstdio>
#include <string>

#include "model/PropertyNode.h"

namespace vesk::legacy {

namespace {

std::string indentation(const Node& node) {
    std::string tabs;
    for (const Node* parent = node.getParent(); parent; parent = parent->getParent()) {
        tabs += '\t';
    }
    return tabs;
}

const char* readOnlyWord(const Node& node) {
    return (node.getAttributes() & Node::kReadOnly) ? "readonly" : "";
}

}  // namespace

bool NodePrinter::preChildrenProcess(Node& node) {
    // Only tabs join the format; names and values are arguments, so a "%" in
    // them is printed, not interpreted.
    const std::string prefix = indentation(node);
    const PropertyNode* property = node.asPropertyNode();
    if (!property) {
        std::printf((prefix + "Node %s %s\n").c_str(), node.getName().c_str(), readOnlyWord(node));
        return true;
    }
    // The value follows on this line, so the third place stays empty.
    std::printf((prefix + "Property %s %s %s").c_str(), node.getName().c_str(), readOnlyWord(node),
                "");
    if (property->isList()) {
        std::printf("\n");
        const std::string itemFormat = prefix + "\t%s\n";
        for (const auto& item : property->getListValue("default")) {
            std::printf(itemFormat.c_str(), item.c_str());
        }
    } else {
        std::printf("%s\n", property->getStringValue("default").c_str());
    }
    return true;
}

bool NodePrinter::postChildrenProcess(Node&) {
    return true;
}

}  // namespace vesk::legacy
