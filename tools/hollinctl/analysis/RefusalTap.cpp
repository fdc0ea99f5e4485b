// SPDX-License-Identifier: LGPL-2.1-or-later
#include "RefusalTap.h"

#include "change/TreeComparator.h"
#include "layers/ParserContext.h"
#include "layers/TreeMerger.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"

namespace vesk::legacy::hollinctl {

namespace {

const std::string kDefaultLocale = "default";

// Whether a value event would leave the property as it is. The merger files a
// value without locale under "default" once the property is localised, and a
// value with a locale localises it.
bool holdsAlready(const PropertyNode& property, const std::string& locale) {
    if (!locale.empty() && !property.isLocalised()) {
        return false;
    }
    return property.findBestValue(locale.empty() ? kDefaultLocale : locale) != nullptr;
}

}  // namespace

RefusalTap::RefusalTap(const IUpdateLayer& layer, TreeMerger& merger, int position,
                       NodeHistories& book)
    : mLayer(layer), mMerger(merger), mPosition(position), mBook(book), mHandler(nullptr) {}

void RefusalTap::read(ITreeHandler& handler) const {
    // The tap's state belongs to one read; read is const only to be a layer.
    RefusalTap& self = const_cast<RefusalTap&>(*this);
    self.mHandler = &handler;
    self.mPlaces.clear();
    self.mLockedProperties.clear();
    self.mClashes.clear();
    mLayer.read(self);
}

Node* RefusalTap::lockedTarget(const std::string& name) const {
    StructuralNode* parent;
    Node* node;
    if (!mMerger.getMergeContext(parent, name, node) || node == nullptr ||
        TreeMerger::mayChange(*node)) {
        return nullptr;
    }
    return node;
}

void RefusalTap::open(const std::string& name, const PropertyNode* lockedProperty,
                      std::string clash) {
    mPlaces.push_back(mPlaces.empty() ? mBook.root() : mBook.child(mPlaces.back(), name));
    mLockedProperties.push_back(lockedProperty);
    mClashes.push_back(std::move(clash));
}

void RefusalTap::ignoreIfClashing() {
    if (!mClashes.empty() && !mClashes.back().empty()) {
        mBook.noteIgnored(mPlaces.back(), mPosition, mClashes.back());
    }
}

void RefusalTap::refuse() {
    mBook.noteRefused(mPlaces.back(), mPosition);
}

void RefusalTap::startTree() {
    mHandler->startTree();
}

void RefusalTap::endTree() {
    mHandler->endTree();
}

void RefusalTap::modifyNode(const std::string& name, int attributes) {
    // Entering a locked group is allowed: new children may still be added.
    open(name, nullptr);
    mHandler->modifyNode(name, attributes);
}

void RefusalTap::modifyProperty(const std::string& name, PropertyType type, int attributes) {
    Node* locked = lockedTarget(name);
    // An unlocked property keeps its type; values of the other kind go.
    std::string clash;
    StructuralNode* parent;
    Node* node;
    if (locked == nullptr && mMerger.getMergeContext(parent, name, node) && node != nullptr) {
        const PropertyNode* existing = node->asPropertyNode();
        if (existing != nullptr && existing->isList() != isListType(type)) {
            clash = std::string(ParserContext::typeName(type)) + " on a " +
                    ParserContext::typeName(existing->getType());
        }
    }
    open(name, locked != nullptr ? locked->asPropertyNode() : nullptr, std::move(clash));
    mHandler->modifyProperty(name, type, attributes);
}

void RefusalTap::replaceNode(const std::string& name, int attributes) {
    const bool refused = lockedTarget(name) != nullptr;
    open(name, nullptr);
    if (refused) {
        refuse();
    } else if (mLockedProperties.size() > 1) {
        // A group replaced by one with the same children compares equal to the
        // old one, yet it is this layer's now.
        mBook.noteSet(mPlaces.back(), mPosition);
    }
    mHandler->replaceNode(name, attributes);
}

void RefusalTap::replaceProperty(const std::string& name, PropertyType type, int attributes) {
    const bool refused = lockedTarget(name) != nullptr;
    open(name, nullptr);
    if (refused) {
        refuse();
    }
    mHandler->replaceProperty(name, type, attributes);
}

void RefusalTap::removeNode(const std::string& name) {
    const bool refused = lockedTarget(name) != nullptr;
    open(name, nullptr);
    if (refused) {
        refuse();
    }
    mHandler->removeNode(name);
}

void RefusalTap::endNode() {
    if (!mLockedProperties.empty()) {
        mLockedProperties.pop_back();
        mClashes.pop_back();
        mPlaces.pop_back();
    }
    mHandler->endNode();
}

void RefusalTap::endProperty() {
    if (!mLockedProperties.empty()) {
        mLockedProperties.pop_back();
        mClashes.pop_back();
        mPlaces.pop_back();
    }
    mHandler->endProperty();
}

void RefusalTap::setStringValue(const std::string& value, const std::string& locale) {
    ignoreIfClashing();
    const PropertyNode* locked = mLockedProperties.empty() ? nullptr : mLockedProperties.back();
    if (locked != nullptr && !locked->isList() &&
        !(holdsAlready(*locked, locale) &&
          locked->getStringValue(locale.empty() ? kDefaultLocale : locale) == value)) {
        refuse();
    }
    mHandler->setStringValue(value, locale);
}

void RefusalTap::setListValue(const std::vector<std::string>& values, const std::string& locale) {
    ignoreIfClashing();
    const PropertyNode* locked = mLockedProperties.empty() ? nullptr : mLockedProperties.back();
    if (locked != nullptr && locked->isList() &&
        !(holdsAlready(*locked, locale) &&
          areListsEqual(locked->getListValue(locale.empty() ? kDefaultLocale : locale), values))) {
        refuse();
    }
    mHandler->setListValue(values, locale);
}

void RefusalTap::addListValues(const std::vector<std::string>& values, const std::string& locale) {
    ignoreIfClashing();
    const PropertyNode* locked = mLockedProperties.empty() ? nullptr : mLockedProperties.back();
    if (locked != nullptr && locked->isList() && !values.empty()) {
        refuse();
    }
    mHandler->addListValues(values, locale);
}

}  // namespace vesk::legacy::hollinctl
