#include "NodeHistories.h"

#include <algorithm>

namespace vesk::legacy::hollinctl {

void NodeHistories::noteCreated(const Names& names, int layer, bool locked) {
    // A node made anew owes nothing to what stood under its name before.
    forget(names);
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
    // Keys below names sort right after it, as long as their first names match.
    auto it = mHistories.lower_bound(names);
    while (it != mHistories.end() && it->first.size() >= names.size() &&
           std::equal(names.begin(), names.end(), it->first.begin())) {
        it = mHistories.erase(it);
    }
}

const NodeHistory* NodeHistories::find(const Names& names) const {
    const auto it = mHistories.find(names);
    return it != mHistories.end() ? &it->second : nullptr;
}

}  // namespace vesk::legacy::hollinctl
