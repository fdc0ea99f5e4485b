// SPDX-License-Identifier: LGPL-2.1-or-later
#include "SettingsMapping.h"

#include <glib.h>

#include "SchemaIndex.h"
#include "SettingValue.h"
#include "model/Node.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"

namespace vesk::legacy::settings {

namespace {

bool isLockedHere(const Node& node) {
    return (node.getAttributes() & (Node::kFinalised | Node::kReadOnly)) != 0;
}

std::string folderOf(const std::vector<std::string>& names, size_t count) {
    std::string folder = "/";
    for (size_t i = 0; i < count; ++i) {
        folder += names[i] + "/";
    }
    return folder;
}

}  // namespace

bool SettingsMapping::isValidName(const std::string& name) {
    // What schemas and dconf paths use; it also keeps the name from breaking
    // a key file line or group header.
    if (name.empty() || name.size() > 255) {
        return false;
    }
    for (char c : name) {
        if (!g_ascii_isalnum(c) && c != '-' && c != '_' && c != '.' && c != ':') {
            return false;
        }
    }
    return true;
}

SettingsMapping::Result SettingsMapping::map(const Node* root) const {
    Result result;
    if (root == nullptr || root->asStructuralNode() == nullptr) {
        return result;
    }
    std::vector<std::string> names;
    walk(*root, names, isLockedHere(*root), result);
    return result;
}

void SettingsMapping::walk(const Node& node, std::vector<std::string>& names, bool locked,
                           Result& result) const {
    const StructuralNode* group = node.asStructuralNode();
    if (locked) {
        for (const std::string& key : mSchemas.keysBelow(folderOf(names, names.size()))) {
            result.lockedKeys.insert(key);
        }
    }
    std::vector<Node*> children;
    group->getChildNodes(children);
    for (const Node* child : children) {
        names.push_back(child->getName());
        if (!isValidName(child->getName())) {
            result.skipped.push_back(
                {names, "\"" + child->getName() + "\" is not a dconf path element or key name"});
        } else if (child->asStructuralNode() != nullptr) {
            walk(*child, names, locked || isLockedHere(*child), result);
        } else {
            addProperty(*child, names, locked || isLockedHere(*child), result);
        }
        names.pop_back();
    }
}

void SettingsMapping::addProperty(const Node& node, const std::vector<std::string>& names,
                                  bool locked, Result& result) const {
    const PropertyNode& property = *node.asPropertyNode();
    Setting setting;
    setting.key = folderOf(names, names.size() - 1) + names.back();
    setting.locked = locked;
    const SchemaIndex::Key* known = mSchemas.find(setting.key);
    setting.schema = known != nullptr ? known->schema : "";
    setting.type = known != nullptr ? known->type : SettingValue::ownType(property);
    if (property.findBestValue("default") != nullptr) {
        std::string reason;
        SettingValue value = SettingValue::convert(
            property, known != nullptr ? known->type.c_str() : nullptr, reason);
        if (value && known != nullptr && !SchemaIndex::inRange(*known, value.get())) {
            const std::string range = SchemaIndex::describeRange(*known);
            reason = value.text() + " is not " + (range.empty() ? "allowed" : range);
            value = SettingValue();
        }
        if (!value) {
            // A value that does not convert is left out, and so is its lock:
            // a lock would pin whatever the user had set.
            result.skipped.push_back({names, "not written as " + setting.type + ": " + reason});
            return;
        }
        setting.value = value.text();
    }
    if (locked) {
        result.lockedKeys.insert(setting.key);
    }
    result.settings[setting.key] = setting;
}

std::string SettingsMapping::Result::keyfile() const {
    std::map<std::string, std::string> groups;
    for (const auto& [key, setting] : settings) {
        if (setting.value.empty()) {
            continue;
        }
        const size_t slash = key.rfind('/');
        std::string group = key.substr(1, slash == 0 ? 0 : slash - 1);
        groups[group.empty() ? "/" : group] += key.substr(slash + 1) + "=" + setting.value + "\n";
    }
    std::string text;
    for (const auto& [group, lines] : groups) {
        text += (text.empty() ? "[" : "\n[") + group + "]\n" + lines;
    }
    return text;
}

std::string SettingsMapping::Result::locks() const {
    std::string text;
    for (const std::string& key : lockedKeys) {
        text += key + "\n";
    }
    return text;
}

}  // namespace vesk::legacy::settings
