// SPDX-License-Identifier: LGPL-2.1-or-later
#include "RoundTrip.h"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "ScratchDirectory.h"
#include "TreeChecks.h"
#include "model/Node.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"
#include "output/NodeSerialize.h"
#include "output/XmlText.h"

namespace vesk::legacy::fuzz {

namespace {

// A text the writer must refuse (the reason it gives), or null.
const char* unwritable(const std::string& text) {
    return XmlText::isRepresentable(text) ? nullptr : "a text XML cannot carry";
}

const char* unwritable(const Node& node) {
    if (const char* why = unwritable(node.getName())) {
        return why;
    }
    if (const PropertyNode* property = node.asPropertyNode()) {
        std::vector<std::string> locales;
        property->getLocales(locales);
        for (const std::string& locale : locales) {
            if (property->isLocalised() && unwritable(locale)) {
                return unwritable(locale);
            }
            if (!property->isList()) {
                if (const char* why = unwritable(property->getStringValue(locale))) {
                    return why;
                }
                continue;
            }
            const std::vector<std::string>& items = property->getListValue(locale);
            for (const std::string& item : items) {
                if (const char* why = unwritable(item)) {
                    return why;
                }
            }
            if (NodeSerialize::listSeparator(items).empty()) {
                return "a list holding every separator";
            }
        }
        return nullptr;
    }
    std::vector<std::string> names;
    node.asStructuralNode()->getChildren(names);
    for (const std::string& name : names) {
        if (const char* why = unwritable(*node.asStructuralNode()->getChild(name))) {
            return why;
        }
    }
    return nullptr;
}

std::string contents(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

void checkRoundTrip(const Tree& tree, const std::string& what) {
    const std::string file = ScratchDirectory::path() + "/round-trip.xml";
    // A refused write must leave the old file alone: this marker must survive it.
    const std::string marker = "not replaced\n";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << marker;

    tree.serialize(file);
    const bool replaced = contents(file) != marker;
    const Node* root = tree.getRoot();
    const char* refusal = !root                       ? nullptr
                          : !root->asStructuralNode() ? "a property as its root"
                                                      : unwritable(*root);
    if (refusal) {
        if (replaced) {
            finding(what + ": a tree holding " + refusal + " was written");
        }
        return;
    }
    if (!replaced) {
        finding(what + ": a tree that a tree file can carry was not written");
    }

    Tree readBack;
    readBack.unserialize(file);
    checkInvariants(readBack);
    const std::string difference = treeDifference(tree, readBack, kProtection | kLocalisation);
    if (!difference.empty()) {
        finding(what + ", written and read back: " + difference);
    }
}

}  // namespace vesk::legacy::fuzz
