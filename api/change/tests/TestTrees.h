// SPDX-License-Identifier: LGPL-2.1-or-later
// Trees for the change tests, written as nested calls:
//   tree(group("r", {group("a", {text("p", "1")}), list("l", {"x", "y"})}))
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "EventLog.h"
#include "model/Node.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace vesk::legacy::testing {

using testsupport::EventLog;
using testsupport::Lines;

inline Node* group(const std::string& name, std::initializer_list<Node*> children = {},
                   int attributes = 0) {
    auto* node = new StructuralNode(name);
    node->setAttributes(attributes);
    for (Node* child : children) {
        node->adoptChild(*child);
    }
    return node;
}

inline Node* text(const std::string& name, const std::string& value, int attributes = 0,
                  PropertyType type = TypeString) {
    auto* node = new PropertyNode(name, type);
    node->setAttributes(attributes);
    node->setStringValue(value, "default");
    return node;
}

inline Node* list(const std::string& name, const std::vector<std::string>& values) {
    auto* node = new PropertyNode(name, TypeStringList);
    node->setListValue(values, "default");
    return node;
}

// A localised text property with these (locale, text) pairs.
inline Node* localised(const std::string& name,
                       const std::vector<std::pair<std::string, std::string>>& values) {
    auto* node = new PropertyNode(name, TypeString);
    node->localise();
    for (const auto& [locale, value] : values) {
        node->setStringValue(value, locale);
    }
    return node;
}

inline std::shared_ptr<Tree> tree(Node* root = nullptr) {
    auto result = std::make_shared<Tree>();
    result->setRoot(root);
    return result;
}

}  // namespace vesk::legacy::testing
