// Helpers for the change tests: trees written as nested calls, and a handler
// that records events as text lines and can play them again as a layer.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "layers/ITreeHandler.h"
#include "layers/IUpdateLayer.h"
#include "model/Node.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace vesk::legacy::testing {

inline Node* group(const std::string& name, std::initializer_list<Node*> children = {},
                   int attributes = 0) {
    auto* node = new StructuralNode(name);
    node->setAttributes(attributes);
    for (Node* child : children) {
        node->adoptChild(*child);
    }
    return node;
}

inline Node* text(const std::string& name, const std::string& value, int attributes = 0,
                  PropertyType type = TypeString) {
    auto* node = new PropertyNode(name, type);
    node->setAttributes(attributes);
    node->setStringValue(value, "default");
    return node;
}

inline Node* list(const std::string& name, const std::vector<std::string>& values) {
    auto* node = new PropertyNode(name, TypeStringList);
    node->setListValue(values, "default");
    return node;
}

// A localised text property with these (locale, text) pairs.
inline Node* localised(const std::string& name,
                       const std::vector<std::pair<std::string, std::string>>& values) {
    auto* node = new PropertyNode(name, TypeString);
    node->localise();
    for (const auto& value : values) {
        node->setStringValue(value.second, value.first);
    }
    return node;
}

inline std::unique_ptr<Tree> tree(Node* root = nullptr) {
    auto result = std::make_unique<Tree>();
    result->setRoot(root);
    return result;
}

// attributeMask is applied to the attributes of recorded events.
class EventLog : public ITreeHandler, public IUpdateLayer {
  public:
    explicit EventLog(int attributeMask = ~0) : mMask(attributeMask) {}
    std::vector<std::string> lines;

    void startTree() override {
        add("startTree", [](ITreeHandler& h) { h.startTree(); });
    }
    void endTree() override {
        add("endTree", [](ITreeHandler& h) { h.endTree(); });
    }
    void modifyNode(const std::string& n, int a) override {
        a &= mMask;
        add("modifyNode " + n + " " + num(a), [=](ITreeHandler& h) { h.modifyNode(n, a); });
    }
    void replaceNode(const std::string& n, int a) override {
        a &= mMask;
        add("replaceNode " + n + " " + num(a), [=](ITreeHandler& h) { h.replaceNode(n, a); });
    }
    void removeNode(const std::string& n) override {
        add("removeNode " + n, [=](ITreeHandler& h) { h.removeNode(n); });
    }
    void endNode() override {
        add("endNode", [](ITreeHandler& h) { h.endNode(); });
    }
    void modifyProperty(const std::string& n, PropertyType t, int a) override {
        a &= mMask;
        add("modifyProperty " + n + " " + num(t) + " " + num(a),
            [=](ITreeHandler& h) { h.modifyProperty(n, t, a); });
    }
    void replaceProperty(const std::string& n, PropertyType t, int a) override {
        a &= mMask;
        add("replaceProperty " + n + " " + num(t) + " " + num(a),
            [=](ITreeHandler& h) { h.replaceProperty(n, t, a); });
    }
    void endProperty() override {
        add("endProperty", [](ITreeHandler& h) { h.endProperty(); });
    }
    void setStringValue(const std::string& v, const std::string& l) override {
        add("setStringValue " + v + " " + l, [=](ITreeHandler& h) { h.setStringValue(v, l); });
    }
    void setListValue(const std::vector<std::string>& v, const std::string& l) override {
        std::string line = "setListValue";
        for (const auto& item : v) {
            line += " " + item;
        }
        add(line + " " + l, [=](ITreeHandler& h) { h.setListValue(v, l); });
    }
    void addListValues(const std::vector<std::string>& v, const std::string& l) override {
        add("addListValues", [=](ITreeHandler& h) { h.addListValues(v, l); });
    }

    void read(ITreeHandler& handler) const override {
        for (const auto& event : mEvents) {
            event(handler);
        }
    }

  private:
    static std::string num(int value) { return std::to_string(value); }
    void add(std::string line, std::function<void(ITreeHandler&)> event) {
        lines.push_back(std::move(line));
        mEvents.push_back(std::move(event));
    }

    int mMask;
    std::vector<std::function<void(ITreeHandler&)>> mEvents;
};

}  // namespace vesk::legacy::testing
