// SPDX-License-Identifier: LGPL-2.1-or-later
#include "model/PropertyNode.h"

#include "model/ConstNodeVisitor.h"
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

PropertyNode::~PropertyNode() = default;

const std::string* PropertyNode::textOf(const Value& value) const {
    return isList() ? nullptr : std::get_if<std::string>(&value.mData);
}

std::string* PropertyNode::textOf(Value& value) const {
    return isList() ? nullptr : std::get_if<std::string>(&value.mData);
}

const StringList* PropertyNode::listOf(const Value& value) const {
    return isList() ? std::get_if<StringList>(&value.mData) : nullptr;
}

StringList* PropertyNode::listOf(Value& value) const {
    return isList() ? std::get_if<StringList>(&value.mData) : nullptr;
}

Node* PropertyNode::clone(bool) const {
    auto copy = std::make_unique<PropertyNode>(getName(), mType);
    copy->mAttributes = mAttributes;
    copy->mValue.mData = mValue.mData;
    if (mLocales) {
        copy->mLocales = std::make_unique<LocaleMap>();
        for (const auto& entry : *mLocales) {
            copy->mLocales->try_emplace(copy->mLocales->end(), entry.first)->second.mData =
                entry.second.mData;
        }
    }
    return copy.release();
}

void PropertyNode::visit(NodeVisitor& visitor) {
    visitor.preChildrenProcess(*this);
    visitor.postChildrenProcess(*this);
}

void PropertyNode::visit(ConstNodeVisitor& visitor) const {
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
        (*mLocales)[kDefaultLocale].mData = std::move(mValue.mData);
        mValue.mData = std::monostate();
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
    return found == mLocales->end() ? nullptr : &found->second;
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
    return (*mLocales)[locale];
}

const std::string& PropertyNode::getStringValue(const std::string& locale) const {
    const Value* value = findBestValue(locale);
    const std::string* text = value != nullptr ? textOf(*value) : nullptr;
    return text != nullptr ? *text : emptyText();
}

const std::vector<std::string>& PropertyNode::getListValue(const std::string& locale) const {
    const Value* value = findBestValue(locale);
    const StringList* list = value != nullptr ? listOf(*value) : nullptr;
    return list != nullptr ? *list : emptyList();
}

void PropertyNode::setStringValue(const std::string& text, const std::string& locale) {
    if (isList()) {
        return;
    }
    Value& value = valueForWrite(locale);
    if (std::string* held = textOf(value)) {
        *held = text;
    } else {
        value.mData.emplace<std::string>(text);
    }
}

void PropertyNode::setListValue(const std::vector<std::string>& values, const std::string& locale) {
    if (!isList()) {
        return;
    }
    Value& value = valueForWrite(locale);
    if (StringList* held = listOf(value)) {
        *held = values;
    } else {
        value.mData.emplace<StringList>(values);
    }
}

void PropertyNode::addListValues(const std::vector<std::string>& values,
                                 const std::string& locale) {
    if (!isList()) {
        return;
    }
    Value& value = valueForWrite(locale);
    if (StringList* held = listOf(value)) {
        held->insert(held->end(), values.begin(), values.end());
    } else {
        value.mData.emplace<StringList>(values);
    }
}

}  // namespace vesk::legacy
