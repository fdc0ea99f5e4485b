// Small helpers for the change tests: trees written as nested calls, and a
// handler that records every event as one line of text.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "layers/ITreeHandler.h"
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

// A localised text property; the first pair's value becomes "default" when
// its locale is "default".
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

class RecordingHandler : public ITreeHandler {
  public:
    std::vector<std::string> events;

    void startTree() override { events.push_back("startTree"); }
    void endTree() override { events.push_back("endTree"); }
    void modifyNode(const std::string& name, int attributes) override {
        events.push_back("modifyNode " + name + " " + std::to_string(attributes));
    }
    void replaceNode(const std::string& name, int attributes) override {
        events.push_back("replaceNode " + name + " " + std::to_string(attributes));
    }
    void removeNode(const std::string& name) override { events.push_back("removeNode " + name); }
    void endNode() override { events.push_back("endNode"); }
    void modifyProperty(const std::string& name, PropertyType type, int attributes) override {
        events.push_back("modifyProperty " + name + " " + std::to_string(type) + " " +
                         std::to_string(attributes));
    }
    void replaceProperty(const std::string& name, PropertyType type, int attributes) override {
        events.push_back("replaceProperty " + name + " " + std::to_string(type) + " " +
                         std::to_string(attributes));
    }
    void endProperty() override { events.push_back("endProperty"); }
    void setStringValue(const std::string& value, const std::string& locale) override {
        events.push_back("setStringValue " + value + " " + locale);
    }
    void setListValue(const std::vector<std::string>& values, const std::string& locale) override {
        std::string line = "setListValue";
        for (const auto& value : values) {
            line += " " + value;
        }
        events.push_back(line + " " + locale);
    }
    void addListValues(const std::vector<std::string>&, const std::string&) override {
        events.push_back("addListValues");
    }
};

}  // namespace vesk::legacy::testing
