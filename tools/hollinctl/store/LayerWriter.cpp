// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LayerWriter.h"

#include <algorithm>
#include <vector>

#include "ExitStatus.h"
#include "TextEscape.h"
#include "change/TreeComparator.h"
#include "layers/ParserContext.h"
#include "model/Node.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "output/XmlText.h"

namespace vesk::legacy::hollinctl {

namespace {

const char kDefaultLocale[] = "default";

// Markup and line ends as references (XmlText, as tree files write them);
// what XML cannot carry at all came from no layer, and is refused.
std::string escaped(const std::string& text, bool) {
    std::string out;
    if (!XmlText::escape(text, out)) {
        throw CommandError(kServiceError,
                           "a name or value that XML cannot carry: " + quotedText(text));
    }
    return out;
}

bool anyContains(const std::vector<std::string>& items, const std::string& separator) {
    return std::any_of(items.begin(), items.end(), [&](const std::string& item) {
        return item.find(separator) != std::string::npos;
    });
}

// A separator none of the items holds: one space where it can be, since the
// reader cuts at one space by default.
std::string separatorFor(const std::vector<std::string>& items) {
    if (!anyContains(items, " ")) {
        return " ";
    }
    for (const char* candidate : {"|", ";", ",", "\xc2\xa6", "||"}) {
        if (!anyContains(items, candidate)) {
            return candidate;
        }
    }
    std::string separator = "|#";
    while (anyContains(items, separator)) {
        separator += "#";
    }
    return separator;
}

void writeValue(const PropertyNode& property, const std::string& locale, const std::string& indent,
                std::string& out) {
    std::string attributes;
    if (locale != kDefaultLocale) {
        attributes += " xml:lang=\"" + escaped(locale, true) + "\"";
    }
    std::string text;
    if (property.isList()) {
        const std::vector<std::string>& items = property.getListValue(locale);
        const std::string separator = separatorFor(items);
        if (separator != " ") {
            attributes += " zel:separator=\"" + escaped(separator, true) + "\"";
        }
        for (size_t i = 0; i < items.size(); ++i) {
            text += (i > 0 ? separator : "") + items[i];
        }
    } else {
        text = property.getStringValue(locale);
    }
    out += indent + "<value" + attributes + ">" + escaped(text, false) + "</value>\n";
}

void writeNode(const Node& node, bool parentLocked, const std::string& path,
               const std::string& indent, std::string& out, std::vector<std::string>& lockedToo) {
    const bool locked = isProtected(node.getAttributes());
    if (parentLocked && !locked) {
        lockedToo.push_back(path);
    }
    const std::string lock = locked && !parentLocked ? " zel:finalized=\"true\"" : "";
    const std::string name = " zel:name=\"" + escaped(node.getName(), true) + "\"";
    if (const PropertyNode* property = node.asPropertyNode()) {
        out += indent + "<prop" + name + " zel:type=\"" +
               ParserContext::typeName(property->getType()) + "\"" + lock;
        std::vector<std::string> locales;
        property->getLocales(locales);
        locales.erase(std::remove_if(locales.begin(), locales.end(),
                                     [&](const std::string& locale) {
                                         const PropertyNode::Value* value =
                                             property->findBestValue(locale);
                                         return value == nullptr || !value->isSet();
                                     }),
                      locales.end());
        if (locales.empty()) {
            out += "/>\n";
            return;
        }
        out += ">\n";
        // The plain value first: a value before the first localised one
        // stays as the one for "default".
        std::stable_partition(locales.begin(), locales.end(),
                              [](const std::string& locale) { return locale == kDefaultLocale; });
        for (const std::string& locale : locales) {
            writeValue(*property, locale, indent + "  ", out);
        }
        out += indent + "</prop>\n";
        return;
    }
    const StructuralNode* group = node.asStructuralNode();
    std::vector<std::string> children;
    if (group != nullptr) {
        group->getChildren(children);
    }
    std::sort(children.begin(), children.end());
    out += indent + "<node" + name + lock + (children.empty() ? "/>\n" : ">\n");
    if (children.empty()) {
        return;
    }
    for (const std::string& child : children) {
        writeNode(*group->getChild(child), locked || parentLocked, path + "/" + child,
                  indent + "  ", out, lockedToo);
    }
    out += indent + "</node>\n";
}

}  // namespace

std::string LayerWriter::write(const std::string& component, const Node* root,
                               std::vector<std::string>& lockedToo) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\" zel:name=\"" +
           escaped(component, true) + "\"";
    const bool locked = root != nullptr && isProtected(root->getAttributes());
    out += locked ? " zel:finalized=\"true\">\n" : ">\n";
    const StructuralNode* group = root != nullptr ? root->asStructuralNode() : nullptr;
    if (group != nullptr) {
        std::vector<std::string> children;
        group->getChildren(children);
        std::sort(children.begin(), children.end());
        for (const std::string& child : children) {
            writeNode(*group->getChild(child), locked, "/" + child, "  ", out, lockedToo);
        }
    }
    return out + "</zel:component-data>\n";
}

}  // namespace vesk::legacy::hollinctl
