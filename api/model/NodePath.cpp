// SPDX-License-Identifier: LGPL-2.1-or-later
#include "model/NodePath.h"

namespace vesk::legacy {

NodePath::NodePath() = default;

NodePath::NodePath(const std::string& component, const std::vector<std::string>& names)
    : mComponent(component), mNames(names) {
    for (const auto& name : mNames) {
        mPath += '/';
        mPath += name;
    }
}

void NodePath::setPath(const std::string& text) {
    // All three fields are replaced, so a reused path keeps nothing old.
    mComponent.clear();
    mPath.clear();
    mNames.clear();

    const auto slash = text.find('/');
    if (slash == std::string::npos) {
        mComponent = text;
        return;
    }
    mComponent = text.substr(0, slash);
    mPath = text.substr(slash);
    forEachName(std::string_view(mPath).substr(1), [this](std::string_view name) {
        mNames.emplace_back(name);
        return true;
    });
}

void NodePath::append(const std::string& name) {
    mPath += '/';
    mPath += name;
    mNames.push_back(name);
}

void NodePath::removeLast() {
    if (mNames.empty()) {
        return;
    }
    mPath.resize(mPath.size() - mNames.back().size() - 1);
    mNames.pop_back();
}

NodePath::CompareResult NodePath::compare(const NodePath& other) const {
    if (mComponent != other.mComponent) {
        return Different;
    }
    return compare(other.mNames);
}

NodePath::CompareResult NodePath::compare(const std::vector<std::string>& names) const {
    CompareResult candidate = Equal;
    std::size_t count = mNames.size();
    if (names.size() < mNames.size()) {
        candidate = Ancestor;
        count = names.size();
    } else if (names.size() > mNames.size()) {
        candidate = Descendant;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (mNames[i] != names[i]) {
            return Different;
        }
    }
    return candidate;
}

}  // namespace vesk::legacy
