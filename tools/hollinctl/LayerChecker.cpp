#include "LayerChecker.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>

#include "TextEscape.h"
#include "layers/ParserContext.h"
#include "layers/TreeMerger.h"
#include "layers/XmlUpdateLayer.h"
#include "model/Node.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace vesk::legacy::hollinctl {

namespace {

const char kPrefix[] = "zel:";

bool hasPrefix(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The parser reports its errors through the library's reader; this scan
// stays quiet instead of letting libxml2 print them.
void ignoreMessage(void*, const char*, ...) {}

struct ParserDeleter {
    void operator()(xmlParserCtxtPtr parser) const { xmlFreeParserCtxt(parser); }
};

std::string unknownAttributeMessage(const std::string& attribute, const std::string& where) {
    if (attribute == "zel:finalised") {
        return "zel:finalised on " + where +
               " is a word of tree files, not of layers: nothing is finalised "
               "(write zel:finalized=\"true\")";
    }
    if (attribute == "zel:readonly") {
        return "zel:readonly on " + where +
               " is a word of tree files, not of layers: it is ignored";
    }
    return "unknown attribute " + printable(attribute) + " on " + where + " is ignored";
}

}  // namespace

LayerChecker::LayerChecker(std::string text, bool mergedLast)
    : mText(std::move(text)),
      mMergedLast(mergedLast),
      mParser(nullptr),
      mNodeDepth(0),
      mSkipDepth(0) {}

bool LayerChecker::isMergedLast(const std::string& fileName) {
    std::error_code error;
    const std::filesystem::path path =
        std::filesystem::absolute(fileName, error).lexically_normal();
    if (error) {
        return false;
    }
    const std::string scope = path.parent_path().parent_path().filename().string();
    return scope == "users" || scope == "entities";
}

void LayerChecker::add(int line, int column, const std::string& message) {
    mFindings.push_back(Finding{line, column, message});
}

std::vector<LayerChecker::Finding> LayerChecker::check() {
    mFindings.clear();
    mFrames.clear();
    mFinalisations.clear();
    mNodeDepth = 0;
    mSkipDepth = 0;

    // The library's reader and merger, exactly as a layer from the service.
    const int size = static_cast<int>(std::min<size_t>(mText.size(), INT_MAX));
    XmlUpdateLayer layer(mText.data(), size);
    TreeMerger merger;
    XmlUpdateLayer::ParseError error;
    const bool wellFormed = layer.read(merger, &error);
    const std::unique_ptr<Tree> merged(merger.getTree());
    if (!wellFormed) {
        add(error.line, error.column, "malformed XML: " + printable(error.message));
    }

    if (!mText.empty() && mText.size() <= INT_MAX) {
        // The same parser in the same mode, to see elements with their lines.
        std::unique_ptr<xmlParserCtxt, ParserDeleter> parser(
            xmlCreateMemoryParserCtxt(mText.data(), size));
        if (!parser) {
            throw std::bad_alloc();
        }
        xmlCtxtUseOptions(parser.get(), XML_PARSE_NONET);
        parser->replaceEntities = 0;
        parser->loadsubset = 0;
        parser->validate = 0;
        xmlSAXHandler sax;
        std::memset(&sax, 0, sizeof sax);
        sax.startElement = onStartElement;
        sax.endElement = onEndElement;
        sax.warning = ignoreMessage;
        sax.error = ignoreMessage;
        sax.fatalError = ignoreMessage;
        *parser->sax = sax;
        parser->userData = this;
        mParser = parser.get();
        xmlParseDocument(parser.get());
        mParser = nullptr;
    }

    checkFinalisations(merged != nullptr ? merged->getRoot() : nullptr);
    std::stable_sort(mFindings.begin(), mFindings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    return mFindings;
}

void LayerChecker::onStartElement(void* data, const unsigned char* name,
                                  const unsigned char** attributes) {
    LayerChecker& checker = *static_cast<LayerChecker*>(data);
    const int line = xmlSAX2GetLineNumber(static_cast<xmlParserCtxtPtr>(checker.mParser));
    checker.startElement(reinterpret_cast<const char*>(name),
                         reinterpret_cast<const char* const*>(attributes), line);
}

void LayerChecker::onEndElement(void* data, const unsigned char*) {
    static_cast<LayerChecker*>(data)->endElement();
}

LayerChecker::Frame* LayerChecker::innermostNode() {
    for (auto it = mFrames.rbegin(); it != mFrames.rend(); ++it) {
        if (it->kind == ElementKind::Structural || it->kind == ElementKind::Property) {
            return &*it;
        }
    }
    return nullptr;
}

void LayerChecker::reportIgnoredContent(Frame& frame, int line, const std::string& what) {
    if (frame.contentReported) {
        return;
    }
    frame.contentReported = true;
    const std::string owner = "<" + printable(frame.element) + "> " + quotedText(frame.name);
    if (frame.removed) {
        add(line, 0,
            what + " inside the removed " + owner + " (line " + std::to_string(frame.line) +
                ") is ignored: a removal takes no content");
    } else {
        add(line, 0,
            what + " inside " + owner + " (line " + std::to_string(frame.line) +
                ") is ignored: a property holds values, not nodes");
    }
}

void LayerChecker::startElement(const std::string& element, const char* const* attributes,
                                int line) {
    if (mSkipDepth > 0) {
        ++mSkipDepth;
        return;
    }
    Frame frame{elementKind(element), element, "", line, false, false, false, {}};
    Frame* parent = innermostNode();
    switch (frame.kind) {
        case ElementKind::Structural:
        case ElementKind::Property: {
            if (parent != nullptr) {
                frame.ignored =
                    parent->ignored || parent->removed || parent->kind == ElementKind::Property;
                if (!parent->ignored && frame.ignored) {
                    reportIgnoredContent(*parent, line, "<" + printable(element) + ">");
                }
            }
            if (!startNode(frame, attributes, mNodeDepth == 0)) {
                mSkipDepth = 1;
                return;
            }
            ++mNodeDepth;
            break;
        }
        case ElementKind::Value:
            if (parent != nullptr) {
                frame.ignored = parent->ignored || parent->removed;
                if (!parent->ignored && parent->removed) {
                    reportIgnoredContent(*parent, line, "<value>");
                }
            }
            if (!frame.ignored && (parent == nullptr || parent->kind != ElementKind::Property)) {
                add(line, 0, "<value> outside a <prop> is ignored");
                frame.ignored = true;
            }
            startValue(frame, attributes);
            break;
        case ElementKind::Other: {
            const bool inValue = std::any_of(mFrames.begin(), mFrames.end(), [](const Frame& f) {
                return f.kind == ElementKind::Value;
            });
            if (!inValue) {
                add(line, 0,
                    "unknown element <" + printable(element) +
                        "> is ignored (layers use zel:component-data, node, group, set, prop "
                        "and value)");
            }
            break;
        }
    }
    mFrames.push_back(std::move(frame));
}

bool LayerChecker::startNode(Frame& frame, const char* const* attributes, bool outermost) {
    const char* name = nullptr;
    const char* operation = nullptr;
    const char* type = nullptr;
    const char* finalised = nullptr;
    std::vector<std::string> unknown;
    for (const char* const* attribute = attributes; attribute != nullptr && *attribute != nullptr;
         attribute += 2) {
        const std::string key = *attribute;
        const char* value = attribute[1] != nullptr ? attribute[1] : "";
        if (key == "zel:name") {
            name = value;
        } else if (key == "zel:op") {
            operation = value;
        } else if (key == "zel:type") {
            type = value;
        } else if (key == "zel:finalized") {
            finalised = value;
        } else if (hasPrefix(key, kPrefix)) {
            unknown.push_back(key);
        }
    }
    const std::string element = "<" + printable(frame.element) + ">";
    if (name == nullptr && !outermost) {
        add(frame.line, 0,
            element + " has no zel:name: the reader drops it with everything inside it");
        return false;
    }
    frame.name = name != nullptr ? ParserContext::attributeText(name) : std::string();
    const std::string what = element + " " + quotedText(frame.name);
    if (name != nullptr && frame.name.empty() && !outermost) {
        add(frame.line, 0, element + " has an empty zel:name");
    }
    if (!outermost && frame.name.find('/') != std::string::npos) {
        add(frame.line, 0, what + ": a \"/\" in zel:name makes the node unreachable by its path");
    }
    for (const std::string& key : unknown) {
        add(frame.line, 0, unknownAttributeMessage(key, what));
    }

    if (operation != nullptr) {
        const std::string op = ParserContext::attributeText(operation);
        if (op == "remove") {
            frame.removed = true;
        } else if (op != "modify" && op != "replace") {
            add(frame.line, 0,
                "unknown operation zel:op=" + quotedText(op) + " on " + what +
                    " is read as modify (operations: modify, replace, remove)");
        }
    }
    if (type != nullptr && frame.kind == ElementKind::Property) {
        const std::string typeName = ParserContext::attributeText(type);
        if (!isLayerTypeName(typeName)) {
            std::string hint;
            if (hasPrefix(typeName, "xs:") && typeName.size() > 5 &&
                typeName.compare(typeName.size() - 5, 5, "-list") == 0) {
                hint = " (list types are written zel:" + printable(typeName.substr(3)) + ")";
            }
            add(frame.line, 0,
                "unknown type " + quotedText(typeName) + " on " + what + " is read as xs:string" +
                    hint);
        }
    }

    if (finalised == nullptr || frame.ignored) {
        return true;
    }
    const std::string value = ParserContext::attributeText(finalised);
    if (value != "true") {
        if (value != "false") {
            add(frame.line, 0,
                "zel:finalized=" + quotedText(value) + " on " + what +
                    " finalises nothing: only \"true\" does");
        }
        return true;
    }
    if (frame.removed) {
        add(frame.line, 0, "finalising the removal " + what + " has no effect");
    } else if (mMergedLast) {
        add(frame.line, 0,
            "finalising " + what +
                " has no effect: this scope is merged last, so no later layer is there to "
                "keep out");
    } else {
        Finalisation finalisation{{}, what, frame.line};
        bool first = true;
        for (const Frame& enclosing : mFrames) {
            if (enclosing.kind == ElementKind::Structural ||
                enclosing.kind == ElementKind::Property) {
                if (!first) {
                    finalisation.names.push_back(enclosing.name);
                }
                first = false;
            }
        }
        if (!outermost) {
            finalisation.names.push_back(frame.name);
        }
        mFinalisations.push_back(std::move(finalisation));
    }
    return true;
}

void LayerChecker::startValue(Frame& frame, const char* const* attributes) {
    std::string locale;
    for (const char* const* attribute = attributes; attribute != nullptr && *attribute != nullptr;
         attribute += 2) {
        const std::string key = *attribute;
        if (key == "xml:lang") {
            locale = ParserContext::attributeText(attribute[1] != nullptr ? attribute[1] : "");
        } else if (hasPrefix(key, kPrefix) && key != "zel:separator") {
            add(frame.line, 0, unknownAttributeMessage(key, "<value>"));
        }
    }
    Frame* property = innermostNode();
    if (frame.ignored || property == nullptr) {
        return;
    }
    // Without a locale the merger sets "default" (or the one value, which a
    // later localisation files under "default").
    if (locale.empty()) {
        locale = "default";
    }
    const auto found = property->locales.find(locale);
    if (found != property->locales.end()) {
        add(frame.line, 0,
            "a second value for locale " + quotedText(locale) + " in <prop> " +
                quotedText(property->name) + " (the first is on line " +
                std::to_string(found->second) + "): only the last one counts");
    } else {
        property->locales.emplace(locale, frame.line);
    }
}

void LayerChecker::endElement() {
    if (mSkipDepth > 0) {
        --mSkipDepth;
        return;
    }
    if (mFrames.empty()) {
        return;
    }
    if (mFrames.back().kind == ElementKind::Structural ||
        mFrames.back().kind == ElementKind::Property) {
        --mNodeDepth;
    }
    mFrames.pop_back();
}

void LayerChecker::checkFinalisations(Node* root) {
    for (const Finalisation& finalisation : mFinalisations) {
        Node* node = root;
        for (const std::string& name : finalisation.names) {
            const StructuralNode* group = node != nullptr ? node->asStructuralNode() : nullptr;
            node = group != nullptr ? group->getChild(name) : nullptr;
        }
        if (node == nullptr || (node->getAttributes() & Node::kFinalised) == 0) {
            add(finalisation.line, 0,
                "finalising " + finalisation.what +
                    " has no effect: a later element of this layer removes or replaces it "
                    "(or a node above it)");
        }
    }
}

}  // namespace vesk::legacy::hollinctl
