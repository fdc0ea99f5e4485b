// SPDX-License-Identifier: LGPL-2.1-or-later
#include "output/TreeFileReader.h"

#include <libxml/parser.h>

#include <climits>
#include <cstring>
#include <vector>

#include "layers/LayerLimitExceeded.h"
#include "layers/OperationType.h"
#include "layers/ParserContext.h"
#include "layers/SaxParser.h"
#include "layers/TreeMerger.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"
#include "output/TreeFileFormat.h"

namespace vesk::legacy {

namespace {

const char* const kStructuralNames[] = {"zel:component-data", "node", "zel:node", "group",
                                        "zel:group",          "set",  "zel:set"};

// The list types as a policy layer spells them; a tree file may hold either.
const char* const kLayerListNames[] = {"zel:boolean-list",  "zel:short-list",  "zel:int-list",
                                       "zel:long-list",     "zel:double-list", "zel:string-list",
                                       "zel:hexBinary-list"};

enum class Kind { Structural, Property, Value, Other };

Kind kindOf(const char* name) {
    if (std::strcmp(name, "prop") == 0) {
        return Kind::Property;
    }
    if (std::strcmp(name, "value") == 0) {
        return Kind::Value;
    }
    for (const char* structural : kStructuralNames) {
        if (std::strcmp(name, structural) == 0) {
            return Kind::Structural;
        }
    }
    return Kind::Other;
}

// A missing or unknown name is a string, as in a layer.
PropertyType typeFromText(const char* text) {
    if (text) {
        for (int type = 0; type < 14; ++type) {
            if (std::strcmp(text, kTreeFileTypeNames[type]) == 0) {
                return static_cast<PropertyType>(type);
            }
        }
        for (int type = TypeBooleanList; type <= TypeHexBinaryList; ++type) {
            if (std::strcmp(text, kLayerListNames[type - TypeBooleanList]) == 0) {
                return static_cast<PropertyType>(type);
            }
        }
    }
    return TypeString;
}

// The attributes of one element, null where missing.
class Attributes {
  public:
    explicit Attributes(const char* const* pairs) : mPairs(pairs) {}

    const char* find(const char* name) const {
        for (const char* const* at = mPairs; at && at[0]; at += 2) {
            if (std::strcmp(at[0], name) == 0) {
                return at[1] ? at[1] : "";
            }
        }
        return nullptr;
    }
    bool is(const char* name, const char* value) const {
        const char* found = find(name);
        return found && std::strcmp(found, value) == 0;
    }

  private:
    const char* const* mPairs;
};

// One open group or property element.
struct Entry {
    Kind kind;
    // The node the element made or replaced; null when it changed nothing
    // that may be written to (removed, refused, read-only, other kind) and,
    // for the root, until the merger has made its tree.
    Node* node;
    bool settable;  // the element's attribute bits go onto its node at its end
    int attributes;
};

// Everything one read needs inside the parser's callbacks.
struct Session {
    Session(TreeMerger& merger, SaxParser& parser) : merger(&merger), parser(parser) {}

    TreeMerger* merger;
    SaxParser& parser;
    std::string problem;
    std::vector<Entry> open;
    bool inValue = false;
    bool hasLocale = false;
    std::string locale;
    std::string separator;
    std::string items;  // the "zel:items" text, if any
    bool hasItems = false;
    std::string text;

    void refuse(const std::string& why) {
        if (problem.empty()) {
            problem = why;
        }
        parser.stop();
    }

    void startNode(Kind kind, const Attributes& attributes);
    void endNode();
    void startValue(const Attributes& attributes);
    void endValue();
    void closeAll();
};

void Session::startNode(Kind kind, const Attributes& attributes) {
    if (inValue) {
        return refuse("a group or property inside a value");
    }
    if (!open.empty() && open.back().kind == Kind::Property) {
        return refuse("a group or property inside a property");
    }
    const char* rawName = attributes.find("zel:name");
    if (!rawName) {
        return refuse("an element without zel:name");
    }
    const std::string name = ParserContext::attributeText(rawName);
    const OperationType operation = operationFromText(attributes.find("zel:op"));
    // A tree's root is a group; removing it would leave no tree to load.
    if (open.empty() && kind != Kind::Structural) {
        return refuse("the outermost element is not a group");
    }
    if (open.empty() && operation == OperationType::Remove) {
        return refuse("the outermost element removes the root");
    }
    int bits = 0;
    if (attributes.is("zel:readonly", "true")) {
        bits |= Node::kReadOnly;
    }
    if (attributes.is("zel:finalised", "true") || attributes.is("zel:finalized", "true")) {
        bits |= Node::kFinalised;
    }
    // The two exclude each other; finalised wins, as in the writer.
    if (attributes.is("zel:finalised", "false") && !(bits & Node::kFinalised)) {
        bits |= Node::kNotFinalised;
    }

    StructuralNode* parent = nullptr;
    Node* existing = nullptr;
    const bool placed = merger->getMergeContext(parent, name, existing);
    const PropertyType type = kind == Kind::Property ? typeFromText(attributes.find("zel:type"))
                                                     : TreeMerger::kStructural;
    // Bits go on at the end only, so the merger gets none now: a read-only
    // node would refuse the values that follow.
    switch (operation) {
        case OperationType::Remove:
            merger->removeNode(name);
            break;
        case OperationType::Replace:
            merger->replaceGenericNode(name, 0, type);
            break;
        case OperationType::Modify:
            merger->modifyGenericNode(name, 0, type);
            break;
    }
    Entry entry{kind, nullptr, false, bits};
    if (placed && operation != OperationType::Remove &&
        (existing == nullptr || operation == OperationType::Replace ||
         TreeMerger::mayChange(*existing))) {
        Node* node = parent ? parent->getChild(name) : nullptr;
        // A modify keeps an existing node of the other kind, and a refused
        // replace keeps the read-only one: neither is this element's.
        if (node && (node->asPropertyNode() != nullptr) == (kind == Kind::Property) &&
            TreeMerger::mayChange(*node)) {
            entry.node = node;
            entry.settable = true;
        } else if (!parent) {
            entry.settable = true;  // the root, found once the merger made the tree
        }
    }
    open.push_back(entry);
}

void Session::endNode() {
    const Entry entry = open.back();
    open.pop_back();
    if (entry.kind == Kind::Property) {
        merger->endProperty();
    } else {
        merger->endNode();
    }
    Node* node = entry.node;
    if (!node && entry.settable && open.empty() && merger->getTree()) {
        node = merger->getTree()->getRoot();
    }
    if (node && entry.settable) {
        node->setAttributes(entry.attributes);
    }
}

void Session::startValue(const Attributes& attributes) {
    if (inValue || open.empty() || open.back().kind != Kind::Property) {
        return refuse("a value outside a property");
    }
    inValue = true;
    text.clear();
    const char* lang = attributes.find("xml:lang");
    hasLocale = lang != nullptr;
    locale = lang ? ParserContext::attributeText(lang) : "default";
    const char* rawSeparator = attributes.find("zel:separator");
    separator = rawSeparator ? ParserContext::attributeText(rawSeparator) : " ";
    const char* rawItems = attributes.find(kItemsAttribute);
    hasItems = rawItems != nullptr;
    items = rawItems ? rawItems : "";
}

void Session::endValue() {
    inValue = false;
    PropertyNode* property = open.back().node ? open.back().node->asPropertyNode() : nullptr;
    if (!property) {
        return;
    }
    // A list without a value stores nothing, not even its locale: a localised
    // property without any locale would be written back as one not localised.
    if (property->isList() && !hasItems && text.empty()) {
        return;
    }
    if (hasLocale) {
        property->localise();
    }
    if (!property->isList()) {
        property->setStringValue(text, locale);
        return;
    }
    if (hasItems) {
        if (!text.empty() || (items != "0" && items != "1")) {
            return refuse("a value whose zel:items does not fit it");
        }
        property->setListValue(
            items == "0" ? std::vector<std::string>() : std::vector<std::string>{""}, locale);
        return;
    }
    std::vector<std::string> list;
    if (separator.empty()) {
        list.push_back(text);
    } else {
        size_t start = 0;
        for (size_t at = text.find(separator); at != std::string::npos;
             at = text.find(separator, start)) {
            list.push_back(text.substr(start, at - start));
            start = at + separator.size();
        }
        list.push_back(text.substr(start));
    }
    property->setListValue(list, locale);
}

void Session::closeAll() {
    while (!open.empty()) {
        const Kind kind = open.back().kind;
        open.pop_back();
        if (kind == Kind::Property) {
            merger->endProperty();
        } else {
            merger->endNode();
        }
    }
}

const char* text(const xmlChar* value) {
    return reinterpret_cast<const char*>(value);
}

template <typename Event>
void deliver(void* data, Event event) {
    Session& session = *static_cast<Session*>(data);
    session.parser.guard([&] { event(session); });
}

void onStartElement(void* data, const xmlChar* name, const xmlChar** attributes) {
    deliver(data, [&](Session& session) {
        const Attributes found(reinterpret_cast<const char* const*>(attributes));
        switch (const Kind kind = kindOf(text(name))) {
            case Kind::Structural:
            case Kind::Property:
                session.startNode(kind, found);
                break;
            case Kind::Value:
                session.startValue(found);
                break;
            case Kind::Other:
                break;
        }
    });
}

void onEndElement(void* data, const xmlChar* name) {
    deliver(data, [&](Session& session) {
        switch (kindOf(text(name))) {
            case Kind::Structural:
            case Kind::Property:
                session.endNode();
                break;
            case Kind::Value:
                session.endValue();
                break;
            case Kind::Other:
                break;
        }
    });
}

void onCharacters(void* data, const xmlChar* characters, int length) {
    deliver(data, [&](Session& session) {
        if (session.inValue) {
            session.text.append(text(characters), static_cast<size_t>(length));
        }
    });
}

// The writer never writes one, and it is where entities would be declared.
void onInternalSubset(void* data, const xmlChar*, const xmlChar*, const xmlChar*) {
    deliver(data, [](Session& session) { session.refuse("a document type declaration"); });
}

// Errors are read from the parser afterwards.
xmlSAXHandler makeSaxHandler() {
    xmlSAXHandler sax = SaxParser::quietHandler();
    sax.internalSubset = onInternalSubset;
    sax.startElement = onStartElement;
    sax.endElement = onEndElement;
    sax.characters = onCharacters;
    return sax;
}

std::string parserProblem(const SaxParser& parser) {
    const SaxParser::Error error = parser.lastError("not well-formed");
    return error.message + " (near character " + std::to_string(error.column) + ")";
}

}  // namespace

TreeFileReader::TreeFileReader(std::string text) : mText(std::move(text)) {}

bool TreeFileReader::read(TreeMerger& merger, std::string& problem) const {
    if (mText.empty()) {
        problem = "the file is empty";
        return false;
    }
    if (mText.size() > static_cast<size_t>(INT_MAX)) {
        problem = "the file is too large";
        return false;
    }
    // Huge lifts the depth and text-size limits, which our own deep trees and
    // long values would otherwise hit; without entities nothing can grow
    // beyond the file itself.
    SaxParser parser(mText, XML_PARSE_HUGE);
    Session session(merger, parser);

    merger.startTree();
    const bool wellFormed = parser.parse(makeSaxHandler(), &session);
    session.closeAll();
    merger.endTree();

    try {
        parser.rethrowHeld();
    } catch (const LayerLimitExceeded& limit) {
        problem = "the file exceeds a bound: " + limit.getMessage();
        return false;
    }
    if (!session.problem.empty()) {
        problem = session.problem;
        return false;
    }
    if (!wellFormed) {
        problem = parserProblem(parser);
        return false;
    }
    return true;
}

}  // namespace vesk::legacy
