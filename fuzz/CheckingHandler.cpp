// SPDX-License-Identifier: LGPL-2.1-or-later
#include "CheckingHandler.h"

#include "TreeChecks.h"

namespace vesk::legacy::fuzz {

CheckingHandler::CheckingHandler(const std::string& what, ITreeHandler* next)
    : mWhat(what), mNext(next) {}

void CheckingHandler::checkComplete() const {
    if (!mStarted || !mEnded || !mOpen.empty()) {
        finding(mWhat + ": the comparison did not send one complete, balanced event stream");
    }
}

void CheckingHandler::inTree(const char* event) {
    if (!mStarted || mEnded) {
        finding(mWhat + ": " + event + " outside startTree and endTree");
    }
    ++mChanges;
}

void CheckingHandler::open(Open kind, const char* event) {
    inTree(event);
    if (!mOpen.empty() && mOpen.back() != Open::Group) {
        finding(mWhat + ": " + event + " inside a property or a removal");
    }
    mOpen.push_back(kind);
}

void CheckingHandler::close(Open kind, const char* event) {
    inTree(event);
    if (mOpen.empty()) {
        finding(mWhat + ": " + event + " with nothing open");
    }
    const Open top = mOpen.back();
    const bool fits = kind == Open::Property ? top == Open::Property : top != Open::Property;
    if (!fits) {
        finding(mWhat + ": " + event + " closes the wrong kind of opening");
    }
    mOpen.pop_back();
}

void CheckingHandler::value(const char* event) {
    inTree(event);
    if (mOpen.empty() || mOpen.back() != Open::Property) {
        finding(mWhat + ": " + event + " outside a property");
    }
}

void CheckingHandler::startTree() {
    if (mStarted) {
        finding(mWhat + ": a second startTree");
    }
    mStarted = true;
    if (mNext) {
        mNext->startTree();
    }
}

void CheckingHandler::endTree() {
    if (!mStarted || mEnded || !mOpen.empty()) {
        finding(mWhat + ": endTree before startTree, twice, or with openings not closed");
    }
    mEnded = true;
    if (mNext) {
        mNext->endTree();
    }
}

void CheckingHandler::modifyNode(const std::string& name, int attributes) {
    open(Open::Group, "modifyNode");
    if (mNext) {
        mNext->modifyNode(name, attributes);
    }
}

void CheckingHandler::replaceNode(const std::string& name, int attributes) {
    open(Open::Group, "replaceNode");
    if (mNext) {
        mNext->replaceNode(name, attributes);
    }
}

void CheckingHandler::removeNode(const std::string& name) {
    open(Open::Removal, "removeNode");
    if (mNext) {
        mNext->removeNode(name);
    }
}

void CheckingHandler::endNode() {
    close(Open::Group, "endNode");
    if (mNext) {
        mNext->endNode();
    }
}

void CheckingHandler::modifyProperty(const std::string& name, PropertyType type, int attributes) {
    open(Open::Property, "modifyProperty");
    if (mNext) {
        mNext->modifyProperty(name, type, attributes);
    }
}

void CheckingHandler::replaceProperty(const std::string& name, PropertyType type, int attributes) {
    open(Open::Property, "replaceProperty");
    if (mNext) {
        mNext->replaceProperty(name, type, attributes);
    }
}

void CheckingHandler::endProperty() {
    close(Open::Property, "endProperty");
    if (mNext) {
        mNext->endProperty();
    }
}

void CheckingHandler::setStringValue(const std::string& text, const std::string& locale) {
    value("setStringValue");
    if (mNext) {
        mNext->setStringValue(text, locale);
    }
}

void CheckingHandler::setListValue(const std::vector<std::string>& values,
                                   const std::string& locale) {
    value("setListValue");
    if (mNext) {
        mNext->setListValue(values, locale);
    }
}

void CheckingHandler::addListValues(const std::vector<std::string>& values,
                                    const std::string& locale) {
    value("addListValues");
    if (mNext) {
        mNext->addListValues(values, locale);
    }
}

}  // namespace vesk::legacy::fuzz
