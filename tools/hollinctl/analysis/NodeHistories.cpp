// SPDX-License-Identifier: LGPL-2.1-or-later
#include "NodeHistories.h"

#include <algorithm>

namespace vesk::legacy::hollinctl {

namespace {

using Place = NodeHistories::Place;

// A node made anew or removed owes nothing to what stood under its name before.
void clear(Place* place) {
    place->recorded = false;
    place->history = NodeHistory();
    place->removedBy = 0;
    place->children.clear();
}

NodeHistory& history(Place* place) {
    place->recorded = true;
    return place->history;
}

// Iterative: a layer's nesting is bounded by its path length, not by the stack.
template <typename Visit>
void walk(const Place& root, Visit visit) {
    NodeHistories::Names names;
    std::vector<
        std::pair<const Place*, std::map<std::string, std::unique_ptr<Place>>::const_iterator>>
        open{{&root, root.children.begin()}};
    visit(names, root);
    while (!open.empty()) {
        auto& [place, next] = open.back();
        if (next == place->children.end()) {
            open.pop_back();
            if (!names.empty()) {
                names.pop_back();
            }
            continue;
        }
        const Place* below = next->second.get();
        names.push_back(next->first);
        ++next;
        visit(names, *below);
        open.emplace_back(below, below->children.begin());
    }
}

}  // namespace

NodeHistories::NodeHistories() : mRoot(std::make_unique<Place>()) {}

NodeHistories::~NodeHistories() {
    // Dropped level by level: a deep chain of places would overflow the
    // stack in their own destructors.
    std::vector<std::unique_ptr<Place>> pending;
    pending.push_back(std::move(mRoot));
    while (!pending.empty()) {
        std::unique_ptr<Place> place = std::move(pending.back());
        pending.pop_back();
        for (auto& entry : place->children) {
            pending.push_back(std::move(entry.second));
        }
    }
}

Place* NodeHistories::child(Place* parent, const std::string& name) {
    std::unique_ptr<Place>& place = parent->children[name];
    if (!place) {
        place = std::make_unique<Place>();
    }
    return place.get();
}

const Place* NodeHistories::childOf(const Place* parent, const std::string& name) {
    if (parent == nullptr) {
        return nullptr;
    }
    const auto it = parent->children.find(name);
    return it != parent->children.end() ? it->second.get() : nullptr;
}

void NodeHistories::noteCreated(Place* place, int layer, bool locked) {
    clear(place);
    NodeHistory& made = history(place);
    made.setBy = layer;
    made.lockedBy = locked ? layer : 0;
}

void NodeHistories::noteSet(Place* place, int layer) {
    history(place).setBy = layer;
}

void NodeHistories::noteLocked(Place* place, int layer) {
    history(place).lockedBy = layer;
}

void NodeHistories::noteUnlocked(Place* place) {
    history(place).lockedBy = 0;
}

void NodeHistories::noteRefused(Place* place, int layer) {
    std::vector<int>& layers = history(place).refusedFrom;
    if (std::find(layers.begin(), layers.end(), layer) == layers.end()) {
        layers.push_back(layer);
    }
}

void NodeHistories::noteIgnored(Place* place, int layer, const std::string& reason) {
    std::vector<NodeHistory::Ignored>& ignored = history(place).ignored;
    if (ignored.empty() || ignored.back().layer != layer) {
        ignored.push_back({layer, reason});
    }
}

void NodeHistories::noteRemoved(Place* place, int layer) {
    clear(place);
    place->removedBy = layer;
}

const NodeHistory* NodeHistories::find(const Place* place) const {
    return place != nullptr && place->recorded ? &place->history : nullptr;
}

const NodeHistory* NodeHistories::find(const Names& names) const {
    const Place* place = mRoot.get();
    for (const std::string& name : names) {
        place = childOf(place, name);
    }
    return find(place);
}

void NodeHistories::forEachRemoved(const std::function<void(const Names&, int)>& visit) const {
    walk(*mRoot, [&](const Names& names, const Place& place) {
        if (place.removedBy != 0) {
            visit(names, place.removedBy);
        }
    });
}

int NodeHistories::removedBy(const Names& names) const {
    int layer = mRoot->removedBy;
    const Place* place = mRoot.get();
    for (const std::string& name : names) {
        place = childOf(place, name);
        if (place == nullptr) {
            break;
        }
        layer = place->removedBy != 0 ? place->removedBy : layer;
    }
    return layer;
}

void NodeHistories::forEach(
    const std::function<void(const Names&, const NodeHistory&)>& visit) const {
    walk(*mRoot, [&](const Names& names, const Place& place) {
        if (place.recorded) {
            visit(names, place.history);
        }
    });
}

}  // namespace vesk::legacy::hollinctl
