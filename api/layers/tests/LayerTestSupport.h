// SPDX-License-Identifier: LGPL-2.1-or-later
// Helpers for the layer tests: a handler that records events as text, layers
// from literal XML or fixture files, and node lookup by path.
#pragma once

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "layers/ITreeHandler.h"
#include "layers/XmlUpdateLayer.h"
#include "model/Exception.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace vesk::legacy::test {

// Records the events as one text, e.g. "modifyProperty(p,5,1) setListValue[a,,b]@de";
// throws an Exception at event number throwAt (from 1).
class RecordingHandler : public ITreeHandler {
  public:
    explicit RecordingHandler(size_t throwAt = 0) : mThrowAt(throwAt) {}

    std::string mText;
    size_t mCount = 0;

    void startTree() override { add("startTree"); }
    void endTree() override { add("endTree"); }
    void modifyNode(const std::string& n, int a) override { node("modifyNode", n, -1, a); }
    void replaceNode(const std::string& n, int a) override { node("replaceNode", n, -1, a); }
    void removeNode(const std::string& n) override { add("removeNode(" + n + ")"); }
    void endNode() override { add("endNode"); }
    void modifyProperty(const std::string& n, PropertyType t, int a) override {
        node("modifyProperty", n, t, a);
    }
    void replaceProperty(const std::string& n, PropertyType t, int a) override {
        node("replaceProperty", n, t, a);
    }
    void endProperty() override { add("endProperty"); }
    void setStringValue(const std::string& v, const std::string& l) override {
        add("setStringValue[" + v + "]@" + l);
    }
    void setListValue(const std::vector<std::string>& v, const std::string& l) override {
        list("setListValue", v, l);
    }
    void addListValues(const std::vector<std::string>& v, const std::string& l) override {
        list("addListValues", v, l);
    }

  private:
    void add(const std::string& event) {
        mText += (mCount++ == 0 ? "" : " ") + event;
        if (mCount == mThrowAt) {
            throw Exception("handler gave up at " + event);
        }
    }
    void node(const char* op, const std::string& name, int type, int attributes) {
        std::string typeText = type < 0 ? "" : std::to_string(type) + ",";
        add(std::string(op) + "(" + name + "," + typeText + std::to_string(attributes) + ")");
    }
    void list(const char* op, const std::vector<std::string>& values, const std::string& l) {
        std::string items;
        for (size_t i = 0; i < values.size(); ++i) {
            items += (i == 0 ? "" : ",") + values[i];
        }
        add(std::string(op) + "[" + items + "]@" + l);
    }

    size_t mThrowAt;
};

inline XmlUpdateLayer layerOf(const std::string& xml) {
    return XmlUpdateLayer(xml.data(), static_cast<int>(xml.size()));
}

inline std::string fixture(const std::string& name) {
    std::ifstream in(std::string(HOLLIN_SOURCE_DIR) + "/api/layers/tests/data/" + name,
                     std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The node at a slash-separated path below the root ("" is the root).
inline Node* find(const Tree* tree, const std::string& path) {
    Node* root = tree != nullptr ? tree->getRoot() : nullptr;
    return path.empty() ? root : StructuralNode::findPath(root, path);
}

}  // namespace vesk::legacy::test
