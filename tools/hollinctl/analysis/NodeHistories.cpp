// SPDX-License-Identifier: LGPL-2.1-or-later
#include "NodeHistories.h"

#include <algorithm>

namespace vesk::legacy::hollinctl {

namespace {

// Erases the entries at names and below; keys below names sort right after
// it, as long as their first names match.
template <typename Value>
void eraseFrom(std::map<NodeHistories::Names, Value>& map, const NodeHistories::Names& names) {
    auto it = map.lower_bound(names);
    while (it != map.end() && it->first.size() >= names.size() &&
           std::equal(names.begin(), names.end(), it->first.begin())) {
        it = map.erase(it);
    }
}

}  // namespace

void NodeHistories::noteCreated(const Names& names, int layer, bool locked) {
    // A node made anew owes nothing to what stood under its name before.
    forget(names);
    eraseFrom(mRemoved, names);
    NodeHistory& history = mHistories[names];
    history.setBy = layer;
    history.lockedBy = locked ? layer : 0;
}

void NodeHistories::noteSet(const Names& names, int layer) {
    mHistories[names].setBy = layer;
}

void NodeHistories::noteLocked(const Names& names, int layer) {
    mHistories[names].lockedBy = layer;
}

void NodeHistories::noteUnlocked(const Names& names) {
    mHistories[names].lockedBy = 0;
}

void NodeHistories::noteRefused(const Names& names, int layer) {
    std::vector<int>& layers = mHistories[names].refusedFrom;
    if (std::find(layers.begin(), layers.end(), layer) == layers.end()) {
        layers.push_back(layer);
    }
}

void NodeHistories::noteIgnored(const Names& names, int layer, const std::string& reason) {
    std::vector<NodeHistory::Ignored>& ignored = mHistories[names].ignored;
    if (ignored.empty() || ignored.back().layer != layer) {
        ignored.push_back({layer, reason});
    }
}

void NodeHistories::forget(const Names& names) {
    eraseFrom(mHistories, names);
}

void NodeHistories::noteRemoved(const Names& names, int layer) {
    forget(names);
    eraseFrom(mRemoved, names);
    mRemoved[names] = layer;
}

const NodeHistory* NodeHistories::find(const Names& names) const {
    const auto it = mHistories.find(names);
    return it != mHistories.end() ? &it->second : nullptr;
}

}  // namespace vesk::legacy::hollinctl
