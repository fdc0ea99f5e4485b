#include "layers/ParserContext.h"

#include <cstring>

#include "layers/ITreeHandler.h"
#include "layers/OperationType.h"
#include "model/Logger.h"
#include "model/PropertyType.h"

namespace vesk::legacy {

namespace {

// The layer type names, in PropertyType order, are "xs:" and these for the
// scalar types, then "zel:", these and "-list" for the list types.
const char* const kTypeBaseNames[] = {"boolean", "short",  "int",      "long",
                                      "double",  "string", "hexBinary"};
const int kScalarTypeCount = sizeof(kTypeBaseNames) / sizeof(kTypeBaseNames[0]);

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

bool sameText(const char* text, const char* other) {
    while (*text == *other && *text != '\0') {
        ++text;
        ++other;
    }
    return *text == *other;
}

// The text after "zel:" when name carries that prefix, else null.
const char* afterPrefix(const char* name) {
    return name[0] == 'z' && name[1] == 'e' && name[2] == 'l' && name[3] == ':' ? name + 4
                                                                                : nullptr;
}

// The rest of text after prefix, or null when text does not start with it.
const char* skipPrefix(const char* text, const char* prefix) {
    while (*prefix != '\0') {
        if (*text++ != *prefix++) {
            return nullptr;
        }
    }
    return text;
}

// A missing or unknown type name is a string. Every property passes here,
// so the name is taken apart rather than compared with all fourteen.
PropertyType typeFromText(const char* text) {
    if (text == nullptr) {
        return TypeString;
    }
    const char* bare = skipPrefix(text, "xs:");
    const bool list = bare == nullptr;
    if (list && (bare = afterPrefix(text)) == nullptr) {
        return TypeString;
    }
    for (int type = 0; type < kScalarTypeCount; ++type) {
        const char* rest = skipPrefix(bare, kTypeBaseNames[type]);
        if (rest != nullptr && sameText(rest, list ? "-list" : "")) {
            return static_cast<PropertyType>(list ? type + kScalarTypeCount : type);
        }
    }
    return TypeString;
}

}  // namespace

ParserContext::ParserContext(ITreeHandler& handler)
    : mHandler(&handler), mInValue(false), mNodeDepth(0), mSkipDepth(0) {}

void ParserContext::startDocument() {
    mHandler->startTree();
}

void ParserContext::endDocument() {
    mHandler->endTree();
}

ParserContext::ElementKind ParserContext::kindOf(const char* name) {
    // Names count exactly as written, prefix included: "zel:prop" is no property.
    if (const char* bare = afterPrefix(name)) {
        return equals(bare, "node") || equals(bare, "group") || equals(bare, "set") ||
                       equals(bare, "component-data")
                   ? ElementKind::Structural
                   : ElementKind::Other;
    }
    if (equals(name, "prop")) {
        return ElementKind::Property;
    }
    if (equals(name, "value")) {
        return ElementKind::Value;
    }
    return equals(name, "node") || equals(name, "group") || equals(name, "set")
               ? ElementKind::Structural
               : ElementKind::Other;
}

std::string ParserContext::attributeText(const char* raw) {
    const char* end = raw;
    while (*end != '\0' && *end != '&') {
        ++end;
    }
    if (*end == '\0') {
        return std::string(raw, end);
    }
    std::string text(raw, end);
    for (raw = end; *raw != '\0';) {
        if (std::strncmp(raw, kEscapedAmpersand, kEscapedAmpersandLength) == 0) {
            text += '&';
            raw += kEscapedAmpersandLength;
        } else {
            text += *raw++;
        }
    }
    return text;
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
        startValue(attributes);
    }
}

void ParserContext::startNode(ElementKind kind, const char* element, const char* const* attributes,
                              int line) {
    const char* name = nullptr;
    const char* operation = nullptr;
    const char* finalised = nullptr;
    const char* type = nullptr;
    for (const char* const* attribute = attributes; attribute != nullptr && *attribute != nullptr;
         attribute += 2) {
        const char* value = attribute[1] != nullptr ? attribute[1] : "";
        const char* bare = afterPrefix(*attribute);
        if (bare == nullptr) {
            continue;
        }
        if (equals(bare, "name")) {
            name = value;
        } else if (equals(bare, "type")) {
            type = value;
        } else if (equals(bare, "op")) {
            operation = value;
        } else if (equals(bare, "finalized")) {
            finalised = value;
        }
    }
    if (name == nullptr && mNodeDepth > 0) {
        // A nameless node cannot be placed; guessing a name could overwrite a
        // real node, so it is left out together with everything it holds. The
        // outermost element needs no name: it addresses the root anyway.
        Logger::warning(
            "Layer element %.100s on line %d has no zel:name; ignored with its content\n", element,
            line);
        mSkipDepth = 1;
        return;
    }
    const std::string nodeName = name != nullptr ? attributeText(name) : std::string();
    const int attributeBits = (finalised != nullptr && equals(finalised, "true")) ? 1 : 0;
    const OperationType op = operationFromText(operation);

    if (kind == ElementKind::Structural) {
        switch (op) {
            case OperationType::Replace:
                mHandler->replaceNode(nodeName, attributeBits);
                break;
            case OperationType::Remove:
                mHandler->removeNode(nodeName);
                break;
            case OperationType::Modify:
                mHandler->modifyNode(nodeName, attributeBits);
                break;
        }
    } else {
        // The type is read even for a removal, since it sets the separator.
        const PropertyType propertyType = typeFromText(type);
        switch (op) {
            case OperationType::Replace:
                mHandler->replaceProperty(nodeName, propertyType, attributeBits);
                break;
            case OperationType::Remove:
                mHandler->removeNode(nodeName);
                break;
            case OperationType::Modify:
                mHandler->modifyProperty(nodeName, propertyType, attributeBits);
                break;
        }
        mPropertySeparator = isListType(propertyType) ? " " : "";
    }
    ++mNodeDepth;
}

void ParserContext::startValue(const char* const* attributes) {
    const char* locale = nullptr;
    const char* separator = nullptr;
    for (const char* const* attribute = attributes; attribute != nullptr && *attribute != nullptr;
         attribute += 2) {
        const char* value = attribute[1] != nullptr ? attribute[1] : "";
        if (equals(*attribute, "xml:lang")) {
            locale = value;
        } else if (const char* bare = afterPrefix(*attribute)) {
            if (equals(bare, "separator")) {
                separator = value;
            }
        }
    }
    mInValue = true;
    mValueText.clear();
    // No "xml:lang" is the empty locale, not "default": the handler decides.
    if (locale != nullptr) {
        mLocale = attributeText(locale);
    } else {
        mLocale.clear();
    }
    mSeparator = separator != nullptr ? attributeText(separator) : mPropertySeparator;
}

void ParserContext::endElement(const char* name) {
    if (mSkipDepth > 0) {
        --mSkipDepth;
        return;
    }
    switch (kindOf(name)) {
        case ElementKind::Structural:
            --mNodeDepth;
            mHandler->endNode();
            break;
        case ElementKind::Property:
            --mNodeDepth;
            mHandler->endProperty();
            break;
        case ElementKind::Value:
            endValue();
            break;
        case ElementKind::Other:
            break;
    }
}

void ParserContext::endValue() {
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
    }
}

std::vector<std::string> ParserContext::getList() const {
    std::vector<std::string> items;
    splitValue(items);
    return items;
}

void ParserContext::splitValue(std::vector<std::string>& items) const {
    // Reuses the vector's strings: most lists are short and alike.
    size_t count = 0;
    auto append = [&](size_t start, size_t length) {
        if (count < items.size()) {
            items[count].assign(mValueText, start, length);
        } else {
            items.emplace_back(mValueText, start, length);
        }
        ++count;
    };
    size_t start = 0;
    if (!mSeparator.empty()) {
        for (size_t found = mValueText.find(mSeparator); found != std::string::npos;
             found = mValueText.find(mSeparator, start)) {
            append(start, found - start);
            start = found + mSeparator.size();
        }
    }
    append(start, std::string::npos);
    items.resize(count);
}

}  // namespace vesk::legacy
