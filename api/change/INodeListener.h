// INodeListener: what a client implements to hear of changes at or below a
// node path it registered for. The path handed in lives only for the call.
//
//   class Rewriter : public INodeListener {
//       void onNodeAdded(const NodePath& path) override { rewriteAll(); }
//       void onNodeRemoved(const NodePath& path) override { rewriteAll(); }
//       void onNodeChanged(const NodePath& path) override { rewriteAll(); }
//   };
//   access.addListener(path, &rewriter);   // the client keeps ownership
#pragma once

#include "model/NodePath.h"

namespace vesk::legacy {

class INodeListener {
  public:
    virtual void onNodeAdded(const NodePath& path) = 0;
    virtual void onNodeRemoved(const NodePath& path) = 0;
    virtual void onNodeChanged(const NodePath& path) = 0;
    virtual ~INodeListener() = default;
};

}  // namespace vesk::legacy
