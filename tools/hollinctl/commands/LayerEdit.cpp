// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LayerEdit.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <climits>
#include <cstring>

#include "ExitStatus.h"
#include "TextEscape.h"
#include "layers/SaxParser.h"

namespace vesk::legacy::hollinctl {

namespace {

const char kNamespace[] = "urn:vesk:policy-layer";

const xmlChar* x(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

// The name as written, prefix included, declared or not.
std::string qualified(const xmlChar* name, const xmlNs* ns) {
    std::string text;
    if (ns != nullptr && ns->prefix != nullptr) {
        text = reinterpret_cast<const char*>(ns->prefix) + std::string(":");
    }
    return text + reinterpret_cast<const char*>(name);
}

xmlAttr* findAttribute(xmlNode* element, const std::string& name) {
    for (xmlAttr* attribute = element->properties; attribute != nullptr;
         attribute = attribute->next) {
        if (qualified(attribute->name, attribute->ns) == name) {
            return attribute;
        }
    }
    return nullptr;
}

std::string attributeValue(xmlNode* element, const std::string& name) {
    xmlAttr* attribute = findAttribute(element, name);
    if (attribute == nullptr) {
        return "";
    }
    xmlChar* value = xmlNodeListGetString(element->doc, attribute->children, 1);
    std::string text = value != nullptr ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

bool isStructural(const std::string& name) {
    return name == "zel:component-data" || name == "node" || name == "zel:node" ||
           name == "group" || name == "zel:group" || name == "set" || name == "zel:set";
}

// The element and the line end after it, so no blank line is left.
void removeWithLine(xmlNode* node) {
    xmlNode* next = node->next;
    if (next != nullptr && next->type == XML_TEXT_NODE && xmlIsBlankNode(next)) {
        xmlUnlinkNode(next);
        xmlFreeNode(next);
    }
    xmlUnlinkNode(node);
    xmlFreeNode(node);
}

}  // namespace

struct LayerEdit::Document {
    xmlDocPtr doc = nullptr;
    ~Document() { xmlFreeDoc(doc); }

    // "zel:NAME" as the layer writes its prefix: with the namespace where the
    // document declares it, as a plain name where it does not.
    void setAttribute(xmlNode* element, const char* name, const std::string& value) {
        xmlNs* ns = xmlSearchNs(doc, element, x("zel"));
        if (xmlAttr* old = findAttribute(element, std::string("zel:") + name)) {
            xmlRemoveProp(old);
        }
        if (ns != nullptr) {
            xmlSetNsProp(element, ns, x(name), x(value.c_str()));
        } else {
            xmlSetProp(element, x(("zel:" + std::string(name)).c_str()), x(value.c_str()));
        }
    }

    // The last element of the kind named name below parent that the reader
    // applies (not a removal).
    xmlNode* child(xmlNode* parent, const std::string& name, bool property) {
        xmlNode* found = nullptr;
        for (xmlNode* node = parent->children; node != nullptr; node = node->next) {
            if (node->type != XML_ELEMENT_NODE) {
                continue;
            }
            const std::string element = qualified(node->name, node->ns);
            const bool kind = property ? element == "prop" : isStructural(element);
            if (kind && attributeValue(node, "zel:name") == name &&
                attributeValue(node, "zel:op") != "remove") {
                found = node;
            }
        }
        return found;
    }

    // An element without namespace (xmlNewChild would give it the parent's,
    // and "zel:prop" is no element of layers), on a line of its own.
    xmlNode* append(xmlNode* parent, const char* name) {
        xmlNode* node = xmlNewDocNode(doc, nullptr, x(name), nullptr);
        xmlNode* lineEnd = xmlNewDocText(doc, x("\n"));
        if (node == nullptr || lineEnd == nullptr) {
            xmlFreeNode(node);
            xmlFreeNode(lineEnd);
            throw std::bad_alloc();
        }
        xmlAddChild(parent, node);
        xmlAddChild(parent, lineEnd);
        return node;
    }

    xmlNode* make(xmlNode* parent, const std::string& name, bool property) {
        xmlNode* node = append(parent, property ? "prop" : "node");
        setAttribute(node, "name", name);
        return node;
    }

    // The group element for names, made where missing when make is set.
    xmlNode* group(const std::vector<std::string>& names, size_t count, bool create) {
        xmlNode* node = xmlDocGetRootElement(doc);
        for (size_t i = 0; i < count && node != nullptr; ++i) {
            xmlNode* next = child(node, names[i], false);
            node = next != nullptr ? next : (create ? make(node, names[i], false) : nullptr);
        }
        return node;
    }

    // The element for the node itself: a property, else a group.
    xmlNode* element(const std::vector<std::string>& names) {
        if (names.empty()) {
            return xmlDocGetRootElement(doc);
        }
        xmlNode* parent = group(names, names.size() - 1, false);
        if (parent == nullptr) {
            return nullptr;
        }
        xmlNode* property = child(parent, names.back(), true);
        return property != nullptr ? property : child(parent, names.back(), false);
    }
};

LayerEdit::LayerEdit(const std::string& text, const std::string& component)
    : mDocument(std::make_unique<Document>()) {
    const std::string source =
        !text.empty() ? text
                      : "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<zel:component-data "
                        "xmlns:zel=\"" +
                            std::string(kNamespace) + "\">\n</zel:component-data>\n";
    if (source.size() > INT_MAX) {
        throw CommandError(kServiceError, "the layer is too large to edit");
    }
    // Read as the library reads layers: the same settings and bounds.
    mDocument->doc = SaxParser(source, 0).parseDocument();
    xmlNode* root = mDocument->doc != nullptr ? xmlDocGetRootElement(mDocument->doc) : nullptr;
    if (root == nullptr || !isStructural(qualified(root->name, root->ns))) {
        throw CommandError(kNotFound,
                           "the layer is broken or no layer: mend it by hand first "
                           "(hollinctl check shows where)");
    }
    if (text.empty()) {
        mDocument->setAttribute(root, "name", component);
    }
}

LayerEdit::~LayerEdit() = default;

void LayerEdit::set(const std::vector<std::string>& names, const std::string& value,
                    const std::string& type, bool lock) {
    xmlNode* parent = mDocument->group(names, names.size() - 1, true);
    xmlNode* property = mDocument->child(parent, names.back(), true);
    if (property == nullptr) {
        property = mDocument->make(parent, names.back(), true);
    }
    if (!type.empty()) {
        mDocument->setAttribute(property, "type", type);
    }
    if (lock) {
        mDocument->setAttribute(property, "finalized", "true");
    }
    for (xmlNode* node = property->children; node != nullptr;) {
        xmlNode* next = node->next;
        xmlUnlinkNode(node);
        xmlFreeNode(node);
        node = next;
    }
    xmlNode* text = xmlNewDocText(mDocument->doc, x(value.c_str()));  // escaped when written
    if (text == nullptr) {
        throw std::bad_alloc();
    }
    xmlNode* element = xmlNewDocNode(mDocument->doc, nullptr, x("value"), nullptr);
    if (element == nullptr) {
        xmlFreeNode(text);
        throw std::bad_alloc();
    }
    xmlAddChild(element, text);
    xmlAddChild(property, element);
}

bool LayerEdit::unset(const std::vector<std::string>& names) {
    xmlNode* node = names.empty() ? nullptr : mDocument->element(names);
    if (node == nullptr) {
        return false;
    }
    // Groups left empty go too, up to the root: merged, an empty group the
    // layer made still makes a node (an empty launcher, say). A group that
    // carries anything besides its name (a lock, an operation) stays.
    xmlNode* root = xmlDocGetRootElement(mDocument->doc);
    for (xmlNode* parent = node->parent; parent != root && parent != nullptr;) {
        bool empty = true;
        for (xmlNode* child = parent->children; child != nullptr && empty; child = child->next) {
            empty = child == node || child->type != XML_ELEMENT_NODE;
        }
        const bool nameOnly = parent->properties != nullptr &&
                              parent->properties->next == nullptr &&
                              findAttribute(parent, "zel:name") != nullptr;
        if (!empty || !nameOnly) {
            break;
        }
        node = parent;
        parent = parent->parent;
    }
    removeWithLine(node);
    return true;
}

bool LayerEdit::has(const std::vector<std::string>& names) const {
    return mDocument->element(names) != nullptr;
}

void LayerEdit::lock(const std::vector<std::string>& names, bool property) {
    xmlNode* node = mDocument->element(names);
    if (node == nullptr) {
        xmlNode* parent = mDocument->group(names, names.size() - 1, true);
        node = mDocument->make(parent, names.back(), property);
    }
    mDocument->setAttribute(node, "finalized", "true");
}

bool LayerEdit::unlock(const std::vector<std::string>& names) {
    xmlNode* node = mDocument->element(names);
    xmlAttr* attribute = node != nullptr ? findAttribute(node, "zel:finalized") : nullptr;
    if (attribute == nullptr) {
        return false;
    }
    xmlRemoveProp(attribute);
    return true;
}

std::string LayerEdit::text() const {
    xmlChar* buffer = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(mDocument->doc, &buffer, &size, "UTF-8");
    if (buffer == nullptr) {
        throw std::bad_alloc();
    }
    std::string text(reinterpret_cast<const char*>(buffer), static_cast<size_t>(size));
    xmlFree(buffer);
    return text;
}

}  // namespace vesk::legacy::hollinctl
