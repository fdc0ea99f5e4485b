// SPDX-License-Identifier: LGPL-2.1-or-later
#include "policy/PolicyLayerWrapper.h"

namespace vesk::legacy {

namespace {

constexpr int kLowestBits = 3;  // finalised and not finalised

bool passesValues(NodePath::CompareResult r) {
    return r == NodePath::Equal || r == NodePath::Descendant;
}

}  // namespace

PolicyLayerWrapper::PolicyLayerWrapper(const NodePath& path, ITreeHandler& handler)
    : mPath(&path), mHandler(&handler), mRememberedAttributes(0), mDepth(0), mRemovedDepth(0) {}

NodePath::CompareResult PolicyLayerWrapper::open(const std::string& name) {
    if (mDepth > 0) {
        mOpenNames.push_back(name);
    }
    ++mDepth;
    return current();
}

NodePath::CompareResult PolicyLayerWrapper::current() const {
    return mPath->compare(mOpenNames);
}

void PolicyLayerWrapper::startTree() {
    mHandler->startTree();
}

void PolicyLayerWrapper::endTree() {
    mHandler->endTree();
}

void PolicyLayerWrapper::modifyCurrentAttributes(int attributes) {
    mRememberedAttributes = (mRememberedAttributes & ~kLowestBits) | (attributes & kLowestBits);
}

void PolicyLayerWrapper::modifyGenericNode(const std::string& name, int attributes,
                                           PropertyType type) {
    passGenericNode(name, attributes, type, false);
}

void PolicyLayerWrapper::replaceGenericNode(const std::string& name, int attributes,
                                            PropertyType type) {
    passGenericNode(name, attributes, type, true);
}

void PolicyLayerWrapper::passGenericNode(const std::string& name, int attributes, PropertyType type,
                                         bool replace) {
    const NodePath::CompareResult r = open(name);
    if (insideRemoval() || r == NodePath::Different) {
        return;
    }
    if (r == NodePath::Ancestor || r == NodePath::Equal) {
        modifyCurrentAttributes(attributes);
        if (r == NodePath::Ancestor) {
            return;
        }
        attributes = mRememberedAttributes;
    }
    if (type == kNodeType && replace) {
        mHandler->replaceNode(name, attributes);
    } else if (type == kNodeType) {
        mHandler->modifyNode(name, attributes);
    } else if (replace) {
        mHandler->replaceProperty(name, type, attributes);
    } else {
        mHandler->modifyProperty(name, type, attributes);
    }
}

void PolicyLayerWrapper::modifyNode(const std::string& name, int attributes) {
    modifyGenericNode(name, attributes, kNodeType);
}

void PolicyLayerWrapper::replaceNode(const std::string& name, int attributes) {
    replaceGenericNode(name, attributes, kNodeType);
}

void PolicyLayerWrapper::modifyProperty(const std::string& name, PropertyType type,
                                        int attributes) {
    modifyGenericNode(name, attributes, type);
}

void PolicyLayerWrapper::replaceProperty(const std::string& name, PropertyType type,
                                         int attributes) {
    replaceGenericNode(name, attributes, type);
}

void PolicyLayerWrapper::removeNode(const std::string& name) {
    const NodePath::CompareResult r = open(name);
    if (insideRemoval() || r == NodePath::Different) {
        return;
    }
    if (r == NodePath::Ancestor) {
        // Removing an ancestor removes the node at the path. Its end is passed at
        // the ancestor's end, so the handler sees a closed removal.
        mRemovedDepth = mDepth;
        mHandler->removeNode(mPath->getNames().back());
        return;
    }
    mHandler->removeNode(name);
}

void PolicyLayerWrapper::endNode() {
    if (mDepth == 0) {
        return;
    }
    if (insideRemoval()) {
        if (mDepth == mRemovedDepth) {
            mRemovedDepth = 0;
            mHandler->endNode();
        }
    } else if (passesValues(current())) {
        mHandler->endNode();
    }
    if (mDepth > 1) {
        mOpenNames.pop_back();
    }
    --mDepth;
}

void PolicyLayerWrapper::endProperty() {
    endNode();
}

void PolicyLayerWrapper::setStringValue(const std::string& value, const std::string& locale) {
    if (!insideRemoval() && passesValues(current())) {
        mHandler->setStringValue(value, locale);
    }
}

void PolicyLayerWrapper::setListValue(const std::vector<std::string>& values,
                                      const std::string& locale) {
    if (!insideRemoval() && passesValues(current())) {
        mHandler->setListValue(values, locale);
    }
}

void PolicyLayerWrapper::addListValues(const std::vector<std::string>& values,
                                       const std::string& locale) {
    if (!insideRemoval() && passesValues(current())) {
        mHandler->addListValues(values, locale);
    }
}

}  // namespace vesk::legacy
