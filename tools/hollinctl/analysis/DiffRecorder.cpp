// SPDX-License-Identifier: LGPL-2.1-or-later
#include "DiffRecorder.h"

#include "model/Node.h"

namespace vesk::legacy::hollinctl {

namespace {

const int kProtectionBits = Node::kFinalised | Node::kNotFinalised;

}  // namespace

DiffRecorder::DiffRecorder(int layer, NodeHistories& book) : mLayer(layer), mBook(book) {}

void DiffRecorder::startTree() {
    mPlaces.clear();
    mFrames.clear();
}

void DiffRecorder::endTree() {}

void DiffRecorder::open(const std::string& name, Frame frame) {
    mPlaces.push_back(mFrames.empty() ? mBook.root() : mBook.child(mPlaces.back(), name));
    mFrames.push_back(frame);
    if (!frame.modified) {
        return;
    }
    // 1: the node became protected with this layer, 2: it stopped being protected.
    if (frame.difference & Node::kFinalised) {
        mBook.noteLocked(mPlaces.back(), mLayer);
    } else if (frame.difference & Node::kNotFinalised) {
        mBook.noteUnlocked(mPlaces.back());
    }
}

void DiffRecorder::modifyNode(const std::string& name, int attributes) {
    open(name, Frame{false, true, attributes, false});
}

void DiffRecorder::modifyProperty(const std::string& name, PropertyType, int attributes) {
    open(name, Frame{true, true, attributes, false});
}

void DiffRecorder::replaceNode(const std::string& name, int attributes) {
    open(name, Frame{false, false, attributes, false});
    mBook.noteCreated(mPlaces.back(), mLayer, (attributes & Node::kFinalised) != 0);
}

void DiffRecorder::replaceProperty(const std::string& name, PropertyType, int attributes) {
    open(name, Frame{true, false, attributes, false});
    mBook.noteCreated(mPlaces.back(), mLayer, (attributes & Node::kFinalised) != 0);
}

void DiffRecorder::removeNode(const std::string& name) {
    open(name, Frame{false, false, 0, false});
    mBook.noteRemoved(mPlaces.back(), mLayer);
}

void DiffRecorder::endNode() {
    if (mFrames.empty()) {
        return;
    }
    const Frame& frame = mFrames.back();
    // A property opened without a change of protection was opened for its
    // values, even when no value event follows (a locale disappeared).
    if (frame.property && frame.modified &&
        (frame.valueSeen || (frame.difference & kProtectionBits) == 0)) {
        mBook.noteSet(mPlaces.back(), mLayer);
    }
    mFrames.pop_back();
    mPlaces.pop_back();
}

void DiffRecorder::endProperty() {
    endNode();
}

void DiffRecorder::noteValue() {
    if (!mFrames.empty()) {
        mFrames.back().valueSeen = true;
    }
}

void DiffRecorder::setStringValue(const std::string&, const std::string&) {
    noteValue();
}

void DiffRecorder::setListValue(const std::vector<std::string>&, const std::string&) {
    noteValue();
}

void DiffRecorder::addListValues(const std::vector<std::string>&, const std::string&) {
    noteValue();
}

}  // namespace vesk::legacy::hollinctl
