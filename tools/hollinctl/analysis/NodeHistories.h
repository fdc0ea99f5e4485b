// SPDX-License-Identifier: LGPL-2.1-or-later
// What the layers did to each node of a component, keyed by the node's names
// below the root (the root's key is empty). Layers are counted from 1 in merge
// order; 0 means none.
//
//   NodeHistories book;
//   book.noteSet({"launcher_list", "terminal"}, 2);
//   book.find({"launcher_list", "terminal"})->setBy;   // 2
#pragma once

#include <map>
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

    void noteCreated(const Names& names, int layer, bool locked);
    void noteSet(const Names& names, int layer);
    void noteLocked(const Names& names, int layer);
    void noteUnlocked(const Names& names);
    void noteRefused(const Names& names, int layer);
    // Once per layer and node.
    void noteIgnored(const Names& names, int layer, const std::string& reason);
    // Drops the node and everything recorded below it.
    void forget(const Names& names);
    // Forgets the node and notes that the layer removed it (with what was below).
    void noteRemoved(const Names& names, int layer);

    // Null when nothing was recorded for the node.
    const NodeHistory* find(const Names& names) const;
    // The nodes removed and not made again, with the layer that removed each;
    // a node removed with its group is not listed on its own.
    const std::map<Names, int>& removed() const { return mRemoved; }
    const std::map<Names, NodeHistory>& all() const { return mHistories; }

  private:
    std::map<Names, NodeHistory> mHistories;
    std::map<Names, int> mRemoved;
};

}  // namespace vesk::legacy::hollinctl
