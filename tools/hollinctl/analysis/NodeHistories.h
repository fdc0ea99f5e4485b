// SPDX-License-Identifier: LGPL-2.1-or-later
// What the layers did to each node of a component, kept as a tree of places
// that mirrors the node tree (the root's place has no name). A walk keeps the
// place of each open node and goes down name by name, so deep paths cost
// what their names cost once, not once per node below them. Layers are
// counted from 1 in merge order; 0 means none.
//
//   NodeHistories book;
//   NodeHistories::Place* place = book.child(book.child(book.root(), "launcher_list"), "terminal");
//   book.noteSet(place, 2);
//   book.find({"launcher_list", "terminal"})->setBy;   // 2
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vesk::legacy::hollinctl {

struct NodeHistory {
    // The last layer that created the node or, for a property, changed its value.
    int setBy = 0;
    // The layer that finalised the node; 0 while it is not protected.
    int lockedBy = 0;
    // Layers whose changes to the node the merger refused because it was locked,
    // ascending, each once.
    std::vector<int> refusedFrom;
    // Values of a later layer the merger dropped without a lock, because their
    // kind (one text or a list) is not the property's: the layer and why.
    struct Ignored {
        int layer;
        std::string reason;  // "xs:string on a zel:string-list"
    };
    std::vector<Ignored> ignored;
};

class NodeHistories {
  public:
    using Names = std::vector<std::string>;

    // One node's entry. A place stays valid until a group above it is
    // created anew or removed (its places below are dropped then).
    struct Place {
        bool recorded = false;  // history holds what the layers did
        NodeHistory history;
        int removedBy = 0;  // the layer that removed the node, 0 if none
        std::map<std::string, std::unique_ptr<Place>> children;
    };

    NodeHistories();
    ~NodeHistories();
    NodeHistories(const NodeHistories&) = delete;
    NodeHistories& operator=(const NodeHistories&) = delete;

    Place* root() { return mRoot.get(); }
    // The place of parent's child name, made when missing.
    Place* child(Place* parent, const std::string& name);

    void noteCreated(Place* place, int layer, bool locked);
    void noteSet(Place* place, int layer);
    void noteLocked(Place* place, int layer);
    void noteUnlocked(Place* place);
    void noteRefused(Place* place, int layer);
    // Once per layer and node.
    void noteIgnored(Place* place, int layer, const std::string& reason);
    // Forgets the node and notes that the layer removed it (with what was below).
    void noteRemoved(Place* place, int layer);

    // Null when nothing was recorded for the node.
    const NodeHistory* find(const Names& names) const;
    const NodeHistory* find(const Place* place) const;
    // The place of a child, null when nothing was noted at or below it.
    static const Place* childOf(const Place* parent, const std::string& name);
    const Place* rootPlace() const { return mRoot.get(); }
    // The nodes removed and not made again, with the layer that removed each;
    // a node removed with its group is not listed on its own. Parents first.
    void forEachRemoved(const std::function<void(const Names&, int)>& visit) const;
    // The layer that removed the node or the nearest group above it (0: none).
    int removedBy(const Names& names) const;
    // Every node recorded, parents before children, siblings by name.
    void forEach(const std::function<void(const Names&, const NodeHistory&)>& visit) const;

  private:
    std::unique_ptr<Place> mRoot;
};

}  // namespace vesk::legacy::hollinctl
