// SPDX-License-Identifier: LGPL-2.1-or-later
#include "layers/ParserContext.h"

#include <cstring>

#include "layers/ILayerDiagnostics.h"
#include "layers/ITreeHandler.h"
#include "layers/LayerLimitExceeded.h"
#include "layers/LayerNotes.h"
#include "layers/OperationType.h"
#include "model/LogText.h"
#include "model/Logger.h"
#include "model/PropertyType.h"

namespace vesk::legacy {

namespace {

const char kEscapedAmpersand[] = "&#38;";
const size_t kEscapedAmpersandLength = sizeof(kEscapedAmpersand) - 1;

// Every element and attribute name passes these comparisons, so they are
// written to be inlined: the literal's length is known, and the loop stops at
// the first difference (a shorter text differs at its terminating null).
template <size_t N>
bool equals(const char* text, const char (&literal)[N]) {
    for (size_t i = 0; i < N; ++i) {
        if (text[i] != literal[i]) {
            return false;
        }
    }
    return true;
}

// The text after "zel:" when name carries that prefix, else null.
const char* afterPrefix(const char* name) {
    return name[0] == 'z' && name[1] == 'e' && name[2] == 'l' && name[3] == ':' ? name + 4
                                                                                : nullptr;
}

// base followed by "-list" when list, else base alone, and nothing after.
template <size_t N>
bool isTypeName(const char* text, const char (&base)[N], bool list) {
    for (size_t i = 0; i + 1 < N; ++i) {
        if (text[i] != base[i]) {
            return false;
        }
    }
    return list ? equals(text + N - 1, "-list") : text[N - 1] == '\0';
}

const char* const kTypeNames[] = {
    "xs:boolean",    "xs:short",        "xs:int",           "xs:long",           "xs:double",
    "xs:string",     "xs:hexBinary",    "zel:boolean-list", "zel:short-list",    "zel:int-list",
    "zel:long-list", "zel:double-list", "zel:string-list",  "zel:hexBinary-list"};

}  // namespace

ParserContext::ParserContext(ITreeHandler& handler)
    : mHandler(&handler), mInValue(false), mListProperty(false), mNodeDepth(0), mSkipDepth(0) {}

ParserContext::~ParserContext() = default;

void ParserContext::setDiagnostics(ILayerDiagnostics* sink) {
    mNotes = sink != nullptr ? std::make_unique<LayerNotes>(*sink) : nullptr;
}

// A missing or unknown type name is a string. Every property passes here, so
// the name is told by its first letters rather than compared with all fourteen:
// "xs:" and a base name for the scalar types, "zel:", a base name and "-list"
// for the list types, in PropertyType order.
PropertyType ParserContext::typeFromText(const char* text, bool* known) {
    if (known != nullptr) {
        *known = false;
    }
    if (text == nullptr) {
        return TypeString;
    }
    const char* bare = afterPrefix(text);
    const bool list = bare != nullptr;
    if (!list) {
        if (text[0] != 'x' || text[1] != 's' || text[2] != ':') {
            return TypeString;
        }
        bare = text + 3;
    }
    int type = -1;
    switch (bare[0]) {
        case 'b':
            type = isTypeName(bare, "boolean", list) ? TypeBoolean : -1;
            break;
        case 's':
            type = isTypeName(bare, "string", list)  ? TypeString
                   : isTypeName(bare, "short", list) ? TypeShort
                                                     : -1;
            break;
        case 'i':
            type = isTypeName(bare, "int", list) ? TypeInt : -1;
            break;
        case 'l':
            type = isTypeName(bare, "long", list) ? TypeLong : -1;
            break;
        case 'd':
            type = isTypeName(bare, "double", list) ? TypeDouble : -1;
            break;
        case 'h':
            type = isTypeName(bare, "hexBinary", list) ? TypeHexBinary : -1;
            break;
        default:
            break;
    }
    if (type < 0) {
        return TypeString;
    }
    if (known != nullptr) {
        *known = true;
    }
    return static_cast<PropertyType>(list ? type + TypeBooleanList : type);
}

const char* ParserContext::typeName(PropertyType type) {
    const int index = static_cast<int>(type);
    const int count = static_cast<int>(sizeof kTypeNames / sizeof kTypeNames[0]);
    return index >= 0 && index < count ? kTypeNames[index] : kTypeNames[TypeString];
}

ParserContext::NodeAttribute ParserContext::nodeAttributeOf(const char* bare) {
    switch (bare[0]) {
        case 'n':
            return equals(bare, "name") ? NodeAttribute::Name : NodeAttribute::Other;
        case 't':
            return equals(bare, "type") ? NodeAttribute::Type : NodeAttribute::Other;
        case 'o':
            return equals(bare, "op") ? NodeAttribute::Operation : NodeAttribute::Other;
        case 'f':
            return equals(bare, "finalized") ? NodeAttribute::Finalised : NodeAttribute::Other;
        default:
            return NodeAttribute::Other;
    }
}

bool ParserContext::isValueAttribute(const char* bare) {
    return equals(bare, "separator");
}

void ParserContext::startDocument() {
    mHandler->startTree();
}

void ParserContext::endDocument() {
    mHandler->endTree();
}

ParserContext::ElementKind ParserContext::kindOf(const char* name) {
    // Names count exactly as written, prefix included: "zel:prop" is no property.
    switch (name[0]) {
        case 'p':
            return equals(name, "prop") ? ElementKind::Property : ElementKind::Other;
        case 'v':
            return equals(name, "value") ? ElementKind::Value : ElementKind::Other;
        case 'n':
            return equals(name, "node") ? ElementKind::Structural : ElementKind::Other;
        case 'g':
            return equals(name, "group") ? ElementKind::Structural : ElementKind::Other;
        case 's':
            return equals(name, "set") ? ElementKind::Structural : ElementKind::Other;
        case 'z':
            break;
        default:
            return ElementKind::Other;
    }
    const char* bare = afterPrefix(name);
    return bare != nullptr && (equals(bare, "node") || equals(bare, "group") ||
                               equals(bare, "set") || equals(bare, "component-data"))
               ? ElementKind::Structural
               : ElementKind::Other;
}

std::string ParserContext::attributeText(const char* raw) {
    std::string text;
    assignAttributeText(text, raw);
    return text;
}

void ParserContext::assignAttributeText(std::string& text, const char* raw) {
    const char* end = std::strchr(raw, '&');
    if (end == nullptr) {
        text.assign(raw);
        return;
    }
    text.assign(raw, end);
    for (raw = end; *raw != '\0';) {
        if (std::strncmp(raw, kEscapedAmpersand, kEscapedAmpersandLength) == 0) {
            text += '&';
            raw += kEscapedAmpersandLength;
        } else {
            text += *raw++;
        }
    }
}

void ParserContext::startElement(const char* name, const char* const* attributes, int line) {
    if (mSkipDepth > 0) {
        ++mSkipDepth;
        return;
    }
    ElementKind kind = kindOf(name);
    if (kind == ElementKind::Structural || kind == ElementKind::Property) {
        startNode(kind, name, attributes, line);
    } else if (kind == ElementKind::Value) {
        startValue(attributes, line);
    } else if (mNotes) {
        mNotes->startOther(name, line);
    }
}

ParserContext::NodeTexts ParserContext::nodeTextsOf(const char* const* attributes) {
    NodeTexts texts;
    for (const char* const* attribute = attributes; attribute != nullptr && *attribute != nullptr;
         attribute += 2) {
        const char* value = attribute[1] != nullptr ? attribute[1] : "";
        const char* bare = afterPrefix(*attribute);
        if (bare == nullptr) {
            continue;
        }
        switch (nodeAttributeOf(bare)) {
            case NodeAttribute::Name:
                texts.name = value;
                break;
            case NodeAttribute::Type:
                texts.type = value;
                break;
            case NodeAttribute::Operation:
                texts.operation = value;
                break;
            case NodeAttribute::Finalised:
                texts.finalised = value;
                break;
            case NodeAttribute::Other:
                break;
        }
    }
    return texts;
}

void ParserContext::startNode(ElementKind kind, const char* element, const char* const* attributes,
                              int line) {
    const NodeTexts texts = nodeTextsOf(attributes);
    const char* const name = texts.name;
    if (name == nullptr && mNodeDepth > 0) {
        if (mNotes) {
            mNotes->dropped(element, attributes, line);
        }
        // A nameless node cannot be placed; guessing a name could overwrite a
        // real node, so it is left out together with everything it holds. The
        // outermost element needs no name: it addresses the root anyway.
        Logger::warning("Layer element %s on line %d has no zel:name; ignored with its content\n",
                        logText(std::string(element).substr(0, 100)).c_str(), line);
        mSkipDepth = 1;
        return;
    }
    if (name != nullptr) {
        assignAttributeText(mName, name);
    } else {
        mName.clear();
    }
    const std::string& nodeName = mName;
    if (nodeName.size() > LayerLimitExceeded::kMaxNameBytes) {
        throw LayerLimitExceeded::nameLength();
    }
    // The root's own name is not part of the paths below it.
    const size_t pathBytes =
        mPathBytes.empty() ? 0 : mPathBytes.back() + nodeName.size() + (mNodeDepth > 1 ? 1 : 0);
    if (pathBytes > LayerLimitExceeded::kMaxPathBytes) {
        throw LayerLimitExceeded::pathLength();
    }
    const int attributeBits =
        (texts.finalised != nullptr && equals(texts.finalised, "true")) ? 1 : 0;
    if (mNotes) {
        LayerNotes::NodeFields fields;
        fields.name = name;
        fields.operation = texts.operation;
        fields.type = texts.type;
        fields.finalised = texts.finalised;
        typeFromText(texts.type, &fields.knownType);
        fields.knownOperation = texts.operation == nullptr || isOperationText(texts.operation);
        mNotes->startNode(kind == ElementKind::Structural ? LayerNotes::Kind::Structural
                                                          : LayerNotes::Kind::Property,
                          element, attributes, fields, line, mNodeDepth == 0);
    }
    deliverNode(kind, texts, attributeBits);
    ++mNodeDepth;
    mPathBytes.push_back(pathBytes);
    if (++mNodeCount > LayerLimitExceeded::kMaxNodes) {
        throw LayerLimitExceeded::nodes();
    }
}

void ParserContext::deliverNode(ElementKind kind, const NodeTexts& texts, int attributeBits) {
    const OperationType op = operationFromText(texts.operation);
    if (kind == ElementKind::Structural) {
        switch (op) {
            case OperationType::Replace:
                mHandler->replaceNode(mName, attributeBits);
                break;
            case OperationType::Remove:
                mHandler->removeNode(mName);
                break;
            case OperationType::Modify:
                mHandler->modifyNode(mName, attributeBits);
                break;
        }
        return;
    }
    // The type is read even for a removal, since it sets the separator.
    const PropertyType propertyType = typeFromText(texts.type);
    switch (op) {
        case OperationType::Replace:
            mHandler->replaceProperty(mName, propertyType, attributeBits);
            break;
        case OperationType::Remove:
            mHandler->removeNode(mName);
            break;
        case OperationType::Modify:
            mHandler->modifyProperty(mName, propertyType, attributeBits);
            break;
    }
    mListProperty = isListType(propertyType);
}

void ParserContext::startValue(const char* const* attributes, int line) {
    if (mNotes) {
        mNotes->startValue(attributes, line);
    }
    const char* locale = nullptr;
    const char* separator = nullptr;
    for (const char* const* attribute = attributes; attribute != nullptr && *attribute != nullptr;
         attribute += 2) {
        const char* value = attribute[1] != nullptr ? attribute[1] : "";
        if (equals(*attribute, "xml:lang")) {
            locale = value;
        } else if (const char* bare = afterPrefix(*attribute)) {
            if (isValueAttribute(bare)) {
                separator = value;
            }
        }
    }
    mInValue = true;
    mValueText.clear();
    mItemCount = 0;
    // No "xml:lang" is the empty locale, not "default": the handler decides.
    if (locale != nullptr) {
        assignAttributeText(mLocale, locale);
    } else {
        mLocale.clear();
    }
    if (separator != nullptr) {
        assignAttributeText(mCustomSeparator, separator);
        mSeparator = mCustomSeparator;
    } else {
        mSeparator = mListProperty ? " " : "";
    }
}

void ParserContext::endElement(const char* name) {
    if (mSkipDepth > 0) {
        --mSkipDepth;
        return;
    }
    switch (kindOf(name)) {
        case ElementKind::Structural:
            --mNodeDepth;
            mPathBytes.pop_back();
            mHandler->endNode();
            break;
        case ElementKind::Property:
            --mNodeDepth;
            mPathBytes.pop_back();
            mHandler->endProperty();
            break;
        case ElementKind::Value:
            endValue();
            break;
        case ElementKind::Other:
            break;
    }
    if (mNotes) {
        mNotes->endElement();
    }
}

void ParserContext::endValue() {
    if (mNotes) {
        mNotes->endValue(mValueText);
    }
    if (++mValueCount > LayerLimitExceeded::kMaxValues) {
        throw LayerLimitExceeded::values();
    }
    if (mSeparator.empty()) {
        mHandler->setStringValue(mValueText, mLocale);
    } else {
        splitValue(mItems);
        mHandler->setListValue(mItems, mLocale);
    }
    mInValue = false;
}

void ParserContext::characters(const char* text, int length) {
    if (mInValue && mSkipDepth == 0 && length > 0) {
        mValueText.append(text, static_cast<size_t>(length));
        // Refused as soon as the items are too many, not at the value's end;
        // a separator cut between two pieces is counted at the end.
        if (!mSeparator.empty()) {
            const std::string_view piece(text, static_cast<size_t>(length));
            for (size_t found = piece.find(mSeparator); found != std::string_view::npos;
                 found = piece.find(mSeparator, found + mSeparator.size())) {
                if (++mItemCount >= LayerLimitExceeded::kMaxListItems) {
                    throw LayerLimitExceeded::listItems();
                }
            }
        }
    }
}

std::vector<std::string> ParserContext::getList() const {
    std::vector<std::string> items;
    splitValue(items);
    return items;
}

void ParserContext::splitValue(std::vector<std::string>& items) const {
    // Reuses the vector's strings: most lists are short and alike. Refused at
    // the bound's separator, before more items are made: a value of millions
    // of separators would take gigabytes as items, where its text takes megabytes.
    size_t count = 0;
    auto append = [&](const char* start, const char* end) {
        if (count >= LayerLimitExceeded::kMaxListItems) {
            throw LayerLimitExceeded::listItems();
        }
        if (count < items.size()) {
            items[count].assign(start, end);
        } else {
            items.emplace_back(start, end);
        }
        ++count;
    };
    const char* start = mValueText.data();
    const char* const end = start + mValueText.size();
    if (mSeparator.size() == 1) {
        const char separator = mSeparator[0];
        for (const void* found;
             (found = std::memchr(start, separator, static_cast<size_t>(end - start))) !=
             nullptr;) {
            append(start, static_cast<const char*>(found));
            start = static_cast<const char*>(found) + 1;
        }
    } else if (!mSeparator.empty()) {
        const std::string_view text(mValueText);
        for (size_t found = text.find(mSeparator); found != std::string_view::npos;
             found = text.find(mSeparator, static_cast<size_t>(start - text.data()))) {
            append(start, text.data() + found);
            start = text.data() + found + mSeparator.size();
        }
    }
    append(start, end);
    items.resize(count);
}

}  // namespace vesk::legacy
