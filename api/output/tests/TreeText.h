// SPDX-License-Identifier: LGPL-2.1-or-later
// Test helpers: trees built in a line, a tree as text naming every structural
// detail (kinds, names, types, all attribute bits, each locale and whether it
// holds a value) so that two trees are equal exactly when their texts are, and
// scratch directories.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace outputtest {

using namespace vesk::legacy;

inline StructuralNode& root(Tree& tree, const std::string& name, int attributes = 0) {
    tree.setRoot(new StructuralNode(name));
    tree.getRoot()->setAttributes(attributes);
    return *tree.getRoot()->asStructuralNode();
}

template <typename NodeType = StructuralNode, typename... Type>
NodeType& add(StructuralNode& parent, const std::string& name, int attributes, Type... type) {
    auto* node = new NodeType(name, type...);
    node->setAttributes(attributes);
    parent.adoptChild(*node);
    return *node;
}

inline StructuralNode& group(StructuralNode& parent, const std::string& name, int attributes = 0) {
    return add(parent, name, attributes);
}

inline PropertyNode& property(StructuralNode& parent, const std::string& name, PropertyType type,
                              int attributes = 0) {
    return add<PropertyNode>(parent, name, attributes, type);
}

inline std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
        out += (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) ? escaped
                                                                               : std::string(1, c);
    }
    return out + "\"";
}

inline void describe(const Node& node, const std::string& indent, std::string& out) {
    const std::string bits = " bits=" + std::to_string(node.getAttributes()) + "\n";
    if (const StructuralNode* structural = node.asStructuralNode()) {
        out += indent + "group " + quoted(node.getName()) + bits;
        std::vector<std::string> names;
        structural->getChildren(names);
        for (const auto& name : names) {
            describe(*structural->getChild(name), indent + "  ", out);
        }
        return;
    }
    const PropertyNode& property = *node.asPropertyNode();
    out += indent + "prop " + quoted(node.getName()) +
           " type=" + std::to_string(property.getType()) + bits;
    std::vector<std::string> locales;
    property.getLocales(locales);
    for (const auto& locale : locales) {
        out += indent + "  [" + quoted(locale) + "]";
        const PropertyNode::Value* value = property.findBestValue(locale);
        if (!value || !value->isSet()) {
            out += " no value";
        } else if (!property.isList()) {
            out += " " + quoted(property.getStringValue(locale));
        }
        for (const auto& item : property.getListValue(locale)) {
            out += " item " + quoted(item);
        }
        out += "\n";
    }
}

inline std::string treeText(const Tree& tree) {
    std::string out = "(empty tree)\n";
    if (tree.getRoot()) {
        out.clear();
        describe(*tree.getRoot(), "", out);
    }
    return out;
}

using testsupport::readFile;

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A scratch folder in the build tree, beside the test binary.
struct ScratchDirectory : testsupport::TempDir {
    ScratchDirectory() : TempDir("output-test", HOLLIN_BINARY_DIR) {}
};

}  // namespace outputtest
