#include "layers/ParserContext.h"

#include <cstring>

#include "layers/ITreeHandler.h"
#include "layers/OperationType.h"
#include "model/Logger.h"
#include "model/PropertyType.h"

namespace vesk::legacy {

namespace {

// Layer type names, indexed by PropertyType value.
const char* const kTypeNames[] = {
    "xs:boolean",    "xs:short",        "xs:int",           "xs:long",           "xs:double",
    "xs:string",     "xs:hexBinary",    "zel:boolean-list", "zel:short-list",    "zel:int-list",
    "zel:long-list", "zel:double-list", "zel:string-list",  "zel:hexBinary-list"};

const char* const kStructuralNames[] = {"zel:component-data", "node", "zel:node", "group",
                                        "zel:group",          "set",  "zel:set"};

const char kEscapedAmpersand[] = "&#38;";
const size_t kEscapedAmpersandLength = sizeof(kEscapedAmpersand) - 1;

// A missing or unknown type name is a string.
PropertyType typeFromText(const char* text) {
    if (text != nullptr) {
        for (int type = 0; type < static_cast<int>(sizeof(kTypeNames) / sizeof(kTypeNames[0]));
             ++type) {
            if (std::strcmp(text, kTypeNames[type]) == 0) {
                return static_cast<PropertyType>(type);
            }
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
    if (std::strcmp(name, "prop") == 0) {
        return ElementKind::Property;
    }
    if (std::strcmp(name, "value") == 0) {
        return ElementKind::Value;
    }
    for (const char* structural : kStructuralNames) {
        if (std::strcmp(name, structural) == 0) {
            return ElementKind::Structural;
        }
    }
    return ElementKind::Other;
}

std::string ParserContext::attributeText(const char* raw) {
    const char* escape = std::strstr(raw, kEscapedAmpersand);
    if (escape == nullptr) {
        return raw;
    }
    std::string text;
    while (escape != nullptr) {
        text.append(raw, escape - raw);
        text += '&';
        raw = escape + kEscapedAmpersandLength;
        escape = std::strstr(raw, kEscapedAmpersand);
    }
    text.append(raw);
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
        if (std::strcmp(*attribute, "zel:name") == 0) {
            name = value;
        } else if (std::strcmp(*attribute, "zel:op") == 0) {
            operation = value;
        } else if (std::strcmp(*attribute, "zel:finalized") == 0) {
            finalised = value;
        } else if (std::strcmp(*attribute, "zel:type") == 0) {
            type = value;
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
    const int attributeBits = (finalised != nullptr && std::strcmp(finalised, "true") == 0) ? 1 : 0;
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
        if (std::strcmp(*attribute, "xml:lang") == 0) {
            locale = value;
        } else if (std::strcmp(*attribute, "zel:separator") == 0) {
            separator = value;
        }
    }
    mInValue = true;
    mValueText.clear();
    // No "xml:lang" is the empty locale, not "default": the handler decides.
    mLocale = locale != nullptr ? attributeText(locale) : std::string();
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
        mHandler->setListValue(getList(), mLocale);
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
    if (mSeparator.empty()) {
        items.push_back(mValueText);
        return items;
    }
    size_t start = 0;
    for (size_t found = mValueText.find(mSeparator, start); found != std::string::npos;
         found = mValueText.find(mSeparator, start)) {
        items.emplace_back(mValueText, start, found - start);
        start = found + mSeparator.size();
    }
    items.emplace_back(mValueText, start, std::string::npos);
    return items;
}

}  // namespace vesk::legacy
