#include "model/PropertyNode.h"

#include "model/NodeVisitor.h"

namespace vesk::legacy {

namespace {

using StringList = std::vector<std::string>;

const char kDefaultLocale[] = "default";

// Shared answers for "no value of that kind"; function statics are created
// once even when several threads read at the same time.
const std::string& emptyText() {
    static const std::string sEmpty;
    return sEmpty;
}

const StringList& emptyList() {
    static const StringList sEmpty;
    return sEmpty;
}

}  // namespace

PropertyNode::PropertyNode(const std::string& name, PropertyType type) : Node(name), mType(type) {}

PropertyNode::~PropertyNode() {
    release(mValue);
    if (mLocales) {
        for (auto& entry : *mLocales) {
            release(*entry.second);
        }
    }
}

void PropertyNode::release(Value& value) const {
    if (isList()) {
        delete static_cast<StringList*>(value.mData);
    } else {
        delete static_cast<std::string*>(value.mData);
    }
    value.mData = nullptr;
}

void PropertyNode::copyInto(const Value& from, Value& to) const {
    if (!from.mData) {
        return;
    }
    if (isList()) {
        to.mData = new StringList(*static_cast<const StringList*>(from.mData));
    } else {
        to.mData = new std::string(*static_cast<const std::string*>(from.mData));
    }
}

Node* PropertyNode::clone(bool) const {
    auto copy = std::make_unique<PropertyNode>(getName(), mType);
    copy->mAttributes = mAttributes;
    copyInto(mValue, copy->mValue);
    if (mLocales) {
        copy->mLocales = std::make_unique<LocaleMap>();
        for (const auto& entry : *mLocales) {
            auto value = std::make_unique<Value>();
            copyInto(*entry.second, *value);
            (*copy->mLocales)[entry.first] = std::move(value);
        }
    }
    return copy.release();
}

void PropertyNode::visit(NodeVisitor& visitor) {
    visitor.preChildrenProcess(*this);
    visitor.postChildrenProcess(*this);
}

void PropertyNode::modifyLocalised(bool localised) {
    if (localised && !isLocalised() && mValue.isSet()) {
        localise();
    }
}

void PropertyNode::localise() {
    if (isLocalised()) {
        return;
    }
    mLocales = std::make_unique<LocaleMap>();
    if (mValue.isSet()) {
        auto moved = std::make_unique<Value>();
        moved->mData = mValue.mData;
        mValue.mData = nullptr;
        (*mLocales)[kDefaultLocale] = std::move(moved);
    }
    mAttributes |= kLocalised;
}

void PropertyNode::getLocales(std::vector<std::string>& locales) const {
    if (isLocalised() && mLocales) {
        for (const auto& entry : *mLocales) {
            locales.push_back(entry.first);
        }
    } else {
        locales.push_back(kDefaultLocale);
    }
}

const PropertyNode::Value* PropertyNode::findBestValue(const std::string& locale) const {
    if (!isLocalised()) {
        return &mValue;
    }
    if (!mLocales) {
        return nullptr;
    }
    auto found = mLocales->find(locale);
    return found == mLocales->end() ? nullptr : found->second.get();
}

PropertyNode::Value* PropertyNode::findValue(const std::string& locale) {
    return const_cast<Value*>(findBestValue(locale));
}

PropertyNode::Value& PropertyNode::valueForWrite(const std::string& locale) {
    if (Value* value = findValue(locale)) {
        return *value;
    }
    if (!mLocales) {
        mLocales = std::make_unique<LocaleMap>();
    }
    auto& slot = (*mLocales)[locale];
    slot = std::make_unique<Value>();
    return *slot;
}

const std::string& PropertyNode::getStringValue(const std::string& locale) const {
    if (isList()) {
        return emptyText();
    }
    const Value* value = findBestValue(locale);
    if (value && value->mData) {
        return *static_cast<const std::string*>(value->mData);
    }
    return emptyText();
}

const std::vector<std::string>& PropertyNode::getListValue(const std::string& locale) const {
    if (!isList()) {
        return emptyList();
    }
    const Value* value = findBestValue(locale);
    if (value && value->mData) {
        return *static_cast<const StringList*>(value->mData);
    }
    return emptyList();
}

void PropertyNode::setStringValue(const std::string& text, const std::string& locale) {
    if (isList()) {
        return;
    }
    Value& value = valueForWrite(locale);
    if (value.mData) {
        *static_cast<std::string*>(value.mData) = text;
    } else {
        value.mData = new std::string(text);
    }
}

void PropertyNode::setListValue(const std::vector<std::string>& values, const std::string& locale) {
    if (!isList()) {
        return;
    }
    Value& value = valueForWrite(locale);
    if (value.mData) {
        *static_cast<StringList*>(value.mData) = values;
    } else {
        value.mData = new StringList(values);
    }
}

void PropertyNode::addListValues(const std::vector<std::string>& values,
                                 const std::string& locale) {
    if (!isList()) {
        return;
    }
    Value& value = valueForWrite(locale);
    if (value.mData) {
        auto& list = *static_cast<StringList*>(value.mData);
        list.insert(list.end(), values.begin(), values.end());
    } else {
        value.mData = new StringList(values);
    }
}

}  // namespace vesk::legacy
