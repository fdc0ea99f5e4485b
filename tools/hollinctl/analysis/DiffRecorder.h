// SPDX-License-Identifier: LGPL-2.1-or-later
// Notes in a NodeHistories what one layer changed, from the events of
// Tree::substract between the trees merged with and without that layer:
// created nodes and changed values count as set by the layer, a difference of
// protection as locked or unlocked by it, removed nodes are forgotten.
//
//   DiffRecorder recorder(3, book);
//   withLayer3.substract(withoutLayer3, recorder);
#pragma once

#include <string>
#include <vector>

#include "NodeHistories.h"
#include "layers/ITreeHandler.h"

namespace vesk::legacy::hollinctl {

class DiffRecorder : public ITreeHandler {
  public:
    // The book is not owned and must outlive the recorder.
    DiffRecorder(int layer, NodeHistories& book);

    HOLLIN_TREE_HANDLER_EVENTS

  private:
    struct Frame {
        bool property;
        // Opened as a modification (not created), with this difference of attributes.
        bool modified;
        int difference;
        bool valueSeen;
    };

    void open(const std::string& name, Frame frame);
    void noteValue();

    int mLayer;
    NodeHistories& mBook;
    // The book's place of each open node, the root's first.
    std::vector<NodeHistories::Place*> mPlaces;
    std::vector<Frame> mFrames;
};

}  // namespace vesk::legacy::hollinctl
