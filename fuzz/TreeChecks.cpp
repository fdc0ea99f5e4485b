// SPDX-License-Identifier: LGPL-2.1-or-later
#include "TreeChecks.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "model/Node.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace vesk::legacy::fuzz {

namespace {

constexpr int kProtectionBits = Node::kFinalised | Node::kNotFinalised | Node::kReadOnly;
constexpr int kKnownBits = kProtectionBits | Node::kLocalised;

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Where a node lies, for a finding's message: built only when one is
// reported, since a copy of the path per node checked costs more than the
// checks on deep trees.
struct Place {
    const Place* parent;
    const std::string* name;  // null for the root
};

std::string text(const Place& place) {
    return place.parent ? text(*place.parent) + "/" + quoted(*place.name) : "root";
}

std::string joined(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        out += (i ? "," : "") + quoted(items[i]);
    }
    return out + "]";
}

void checkProperty(const PropertyNode& property, const Place& where) {
    const int type = property.getType();
    if (type < TypeBoolean || type > TypeHexBinaryList) {
        finding(text(where) + ": property type " + std::to_string(type) + " outside the table");
    }
    std::vector<std::string> locales;
    property.getLocales(locales);
    if (!property.isLocalised() && (locales.size() != 1 || locales[0] != "default")) {
        finding(text(where) + ": a property that is not localised reports locales " +
                joined(locales));
    }
    for (size_t i = 0; i < locales.size(); ++i) {
        if (i > 0 && !(locales[i - 1] < locales[i])) {
            finding(text(where) + ": locales not in ascending order: " + joined(locales));
        }
        const std::string& locale = locales[i];
        if (property.isLocalised() && !property.findBestValue(locale)) {
            finding(text(where) + ": localised property reports locale " + quoted(locale) +
                    " but has no value for it");
        }
        if (property.isList() && !property.getStringValue(locale).empty()) {
            finding(text(where) + ": list property reads as a text");
        }
        if (!property.isList() && !property.getListValue(locale).empty()) {
            finding(text(where) + ": single-value property reads as a list");
        }
    }
}

void checkNode(const Node& node, const Node* parent, const Place& where) {
    if (node.getParent() != parent) {
        finding(text(where) + ": parent link does not point to the node that holds it");
    }
    const int attributes = node.getAttributes();
    if (attributes & ~kKnownBits) {
        finding(text(where) + ": unknown attribute bits " + std::to_string(attributes));
    }
    if ((attributes & Node::kFinalised) && (attributes & Node::kNotFinalised)) {
        finding(text(where) + ": finalised and not finalised at once");
    }
    const StructuralNode* group = node.asStructuralNode();
    const PropertyNode* property = node.asPropertyNode();
    if ((group != nullptr) == (property != nullptr)) {
        finding(text(where) + ": a node must be exactly one of group and property");
    }
    if (property) {
        if (((attributes & Node::kLocalised) != 0) != property->isLocalised()) {
            finding(text(where) + ": localised bit and localisation disagree");
        }
        checkProperty(*property, where);
        return;
    }
    if (attributes & Node::kLocalised) {
        finding(text(where) + ": a group carries the localised bit");
    }
    std::vector<std::string> names;
    group->getChildren(names);
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0 && !(names[i - 1] < names[i])) {
            finding(text(where) + ": children not in ascending byte order");
        }
        const Node* child = group->getChild(names[i]);
        if (!child) {
            finding(text(where) + ": listed child " + quoted(names[i]) + " cannot be found");
        }
        if (child->getName() != names[i]) {
            finding(text(where) + ": child filed as " + quoted(names[i]) + " is named " +
                    quoted(child->getName()));
        }
        checkNode(*child, &node, Place{&where, &names[i]});
    }
}

std::string propertyDifference(const PropertyNode& expected, const PropertyNode& actual,
                               int compared) {
    if (expected.getType() != actual.getType()) {
        return "type " + std::to_string(expected.getType()) + " became " +
               std::to_string(actual.getType());
    }
    if ((compared & kLocalisation) && expected.isLocalised() != actual.isLocalised()) {
        return expected.isLocalised() ? "no longer localised" : "became localised";
    }
    std::vector<std::string> expectedLocales;
    std::vector<std::string> actualLocales;
    expected.getLocales(expectedLocales);
    actual.getLocales(actualLocales);
    if (expectedLocales != actualLocales) {
        return "locales " + joined(expectedLocales) + " became " + joined(actualLocales);
    }
    for (const std::string& locale : expectedLocales) {
        if (expected.isList()) {
            const auto& before = expected.getListValue(locale);
            const auto& after = actual.getListValue(locale);
            if (before != after) {
                return "list for " + quoted(locale) + " " + joined(before) + " became " +
                       joined(after);
            }
        } else {
            const auto& before = expected.getStringValue(locale);
            const auto& after = actual.getStringValue(locale);
            if (before != after) {
                return "value for " + quoted(locale) + " " + quoted(before) + " became " +
                       quoted(after);
            }
        }
    }
    return std::string();
}

std::string nodeDifference(const Node& expected, const Node& actual, int compared,
                           const Place& where) {
    if (expected.getName() != actual.getName()) {
        return text(where) + ": name " + quoted(expected.getName()) + " became " +
               quoted(actual.getName());
    }
    if ((compared & kProtection) && (expected.getAttributes() & kProtectionBits) !=
                                        (actual.getAttributes() & kProtectionBits)) {
        return text(where) + ": protection bits " + std::to_string(expected.getAttributes()) +
               " became " + std::to_string(actual.getAttributes());
    }
    const PropertyNode* expectedProperty = expected.asPropertyNode();
    const PropertyNode* actualProperty = actual.asPropertyNode();
    if ((expectedProperty != nullptr) != (actualProperty != nullptr)) {
        return text(where) +
               (expectedProperty ? ": a property became a group" : ": a group became a property");
    }
    if (expectedProperty) {
        const std::string difference =
            propertyDifference(*expectedProperty, *actualProperty, compared);
        return difference.empty() ? difference : text(where) + ": " + difference;
    }
    std::vector<std::string> expectedNames;
    std::vector<std::string> actualNames;
    expected.asStructuralNode()->getChildren(expectedNames);
    actual.asStructuralNode()->getChildren(actualNames);
    if (expectedNames != actualNames) {
        return text(where) + ": children " + joined(expectedNames) + " became " +
               joined(actualNames);
    }
    for (const std::string& name : expectedNames) {
        const std::string difference = nodeDifference(*expected.asStructuralNode()->getChild(name),
                                                      *actual.asStructuralNode()->getChild(name),
                                                      compared, Place{&where, &name});
        if (!difference.empty()) {
            return difference;
        }
    }
    return std::string();
}

}  // namespace

void finding(const std::string& what) {
    std::fprintf(stderr, "FINDING: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

void checkInvariants(const Tree& tree) {
    if (const Node* root = tree.getRoot()) {
        if (!root->asStructuralNode()) {
            finding("the root is a property: no later layer's nodes have a place");
        }
        checkNode(*root, nullptr, Place{nullptr, nullptr});
    }
}

std::string treeDifference(const Tree& expected, const Tree& actual, int compared) {
    const Node* expectedRoot = expected.getRoot();
    const Node* actualRoot = actual.getRoot();
    if (!expectedRoot || !actualRoot) {
        if (expectedRoot == actualRoot) {
            return std::string();
        }
        return expectedRoot ? "the tree lost its root" : "an empty tree gained a root";
    }
    return nodeDifference(*expectedRoot, *actualRoot, compared, Place{nullptr, nullptr});
}

}  // namespace vesk::legacy::fuzz
