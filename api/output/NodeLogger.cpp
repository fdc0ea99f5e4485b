// SPDX-License-Identifier: LGPL-2.1-or-later
#include "output/NodeLogger.h"

#include <string>

#include "model/LogText.h"
#include "model/PropertyNode.h"

namespace vesk::legacy {

bool NodeLogger::preChildrenProcess(Node& node) {
    // Only tabs join the format; names and values are arguments, so a "%" in
    // them is logged, not interpreted.
    std::string prefix;
    for (const Node* parent = node.getParent(); parent; parent = parent->getParent()) {
        prefix += '\t';
    }
    const char* readOnly = (node.getAttributes() & Node::kReadOnly) ? "readonly" : "";
    if (const PropertyNode* property = node.asPropertyNode()) {
        Logger::log(mLevel, (prefix + "Property %s %s %s\n").c_str(),
                    logText(node.getName()).c_str(), readOnly,
                    logText(property->getStringValue("default")).c_str());
    } else {
        Logger::log(mLevel, (prefix + "Node %s %s\n").c_str(), logText(node.getName()).c_str(),
                    readOnly);
    }
    return true;
}

bool NodeLogger::postChildrenProcess(Node&) {
    return true;
}

}  // namespace vesk::legacy
