// SPDX-License-Identifier: LGPL-2.1-or-later
// INodeListener: what a client implements to hear of changes at or below a
// node path it registered for. The path handed in lives only for the call.
//
//   class Rewriter : public INodeListener {
//       void onNodeAdded(const NodePath& path) override { mDirty = true; }
//       void onNodeRemoved(const NodePath& path) override { mDirty = true; }
//       void onNodeChanged(const NodePath& path) override { mDirty = true; }
//       void onChangeComplete() override { rewriteAll(); }   // once per change
//   };
//   access.addListener(path, &rewriter);   // the client keeps ownership
//
// A listener that rewrites from the new policy takes it from the call instead
// of reading the facade back (whose lock the call runs under):
//       void onChangeCompleteWith(const ChangeOutcome& outcome) override {
//           rewriteAll(*outcome.tree, outcome.complete);
//       }
#pragma once

#include <memory>

#include "model/HollinExport.h"
#include "model/NodePath.h"

namespace vesk::legacy {

class Tree;

// What a change of a component led to.
struct ChangeOutcome {
    // The component's tree as served after the change: it never changes, and
    // lives as long as someone keeps it (ConfigurationAccess::snapshot).
    std::shared_ptr<const Tree> tree;
    // Whether it was read in full (ConfigurationAccess::isComplete).
    bool complete = false;
};

class HOLLIN_EXPORT INodeListener {
  public:
    virtual void onNodeAdded(const NodePath& path) = 0;
    virtual void onNodeRemoved(const NodePath& path) = 0;
    virtual void onNodeChanged(const NodePath& path) = 0;
    // Once per change event, after all of that event's node calls, to every
    // listener that got at least one of them (once, however often it is
    // registered); to every listener of the component when the event is the
    // first read in full after one that was not (the store came back, a
    // layer was mended), even when none of its nodes changed. Not called for
    // a listener removed during the event.
    virtual void onChangeComplete() {}
    // Called in place of onChangeComplete() where the change comes with its
    // outcome (the facade's changes do); by default it calls that.
    virtual void onChangeCompleteWith(const ChangeOutcome& outcome) {
        static_cast<void>(outcome);
        onChangeComplete();
    }
    virtual ~INodeListener() = default;
};

}  // namespace vesk::legacy
