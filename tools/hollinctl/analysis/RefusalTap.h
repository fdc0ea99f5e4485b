// SPDX-License-Identifier: LGPL-2.1-or-later
// A layer read into a TreeMerger through a tap that notes, before each event
// reaches the merger, the changes the merger is about to refuse because they
// address a locked (read-only) node: replacing or removing it, or giving a
// property a value other than the one it holds; and the values it is about to
// drop because a property declared with another type already holds the other
// kind (a text on a list). The merger itself works as always; the tap only
// asks it where an event applies.
//
//   RefusalTap tapped(policyLayer, merger, 3, book);
//   merger.merge(tapped);         // refusals of layer 3 land in book
#pragma once

#include <string>
#include <vector>

#include "NodeHistories.h"
#include "layers/ITreeHandler.h"
#include "layers/IUpdateLayer.h"

namespace vesk::legacy {
class Node;
class PropertyNode;
class TreeMerger;
}  // namespace vesk::legacy

namespace vesk::legacy::hollinctl {

class RefusalTap : public IUpdateLayer, public ITreeHandler {
  public:
    // None is owned; all must outlive the tap. Read only into merger.
    RefusalTap(const IUpdateLayer& layer, TreeMerger& merger, int position, NodeHistories& book);

    // Plays layer into handler (the merger) through this tap. Not reentrant.
    void read(ITreeHandler& handler) const override;

    HOLLIN_TREE_HANDLER_EVENTS

  private:
    // The node the event for name addresses, if it exists and is locked.
    Node* lockedTarget(const std::string& name) const;
    void open(const std::string& name, const PropertyNode* lockedProperty, std::string clash = "");
    void refuse();
    // Notes the open property's clash, if it has one, as an ignored value.
    void ignoreIfClashing();

    const IUpdateLayer& mLayer;
    TreeMerger& mMerger;
    int mPosition;
    NodeHistories& mBook;
    mutable ITreeHandler* mHandler;
    // The book's place of each open element (the root's first), and per open
    // element the locked property it entered (null otherwise).
    std::vector<NodeHistories::Place*> mPlaces;
    std::vector<const PropertyNode*> mLockedProperties;
    // Per open element: why its values would be dropped ("" when they would not).
    std::vector<std::string> mClashes;
};

}  // namespace vesk::legacy::hollinctl
