// SPDX-License-Identifier: LGPL-2.1-or-later
// The filter between a policy layer and its handler: passes on only the events
// of the subtree at one node path, so that the handler sees that subtree as if
// it were the whole layer. Made by PolicyLayer::read for one read.
//
// How events are filtered. Each event that opens something (modifyNode,
// replaceNode, removeNode, modifyProperty, replaceProperty) first adds its name
// to the open names; then r = path.compare(open names). endNode and the value
// events compute r on the open names as they are.
//
//   event                 Different  Ancestor               Equal                  Descendant
//   start/endTree         passed, whatever r
//   modify/replace Node   dropped    remember a; dropped    remember a; pass with  pass with a
//   modify/replace Prop.                                    remembered attributes
//   removeNode(name)      dropped    removeNode(last name   pass                   pass
//                                    of the path), see 2.
//   endNode, endProperty  dropped    dropped                endNode                endNode
//   value events          dropped    dropped                pass                   pass
//
// "Remember a" replaces bits 1 and 2 (finalised, not finalised) of the remembered
// attributes with those of a, so the node at the path arrives with only the two
// lowest bits of its own attributes. endNode and endProperty remove the last
// open name in every case; the handler never sees endProperty, only endNode.
//
// Paths with names line up with the layer as follows:
//  1. The layer's outermost node stands for the component root, which has no
//     name in a NodePath. So it adds no name: the open names, like a path's
//     names, start below the root. A path without names selects the whole
//     layer (every event passes, the root arriving as Equal), and the path
//     comp/org/Apps selects the node Apps inside the root's child org,
//     whatever the root element is called.
//  2. When an ancestor of the path is removed, the handler receives
//     removeNode(last name of the path) and, at the end of that ancestor, one
//     endNode; what the removed ancestor contains is dropped. Every removeNode
//     the handler sees is thus closed.
// A stray endNode with nothing open is dropped.
#pragma once

#include <string>
#include <vector>

#include "layers/ITreeHandler.h"
#include "model/HollinExport.h"
#include "model/NodePath.h"

namespace vesk::legacy {

class HOLLIN_EXPORT PolicyLayerWrapper : public ITreeHandler {
  public:
    // Neither is owned; both must outlive the wrapper.
    PolicyLayerWrapper(const NodePath& path, ITreeHandler& handler);

    HOLLIN_TREE_HANDLER_EVENTS

    // Replaces bits 1 and 2 of the remembered attributes with those of attributes.
    void modifyCurrentAttributes(int attributes);
    // type kNodeType stands for a structural node, any other for a property.
    void modifyGenericNode(const std::string& name, int attributes, PropertyType type);
    void replaceGenericNode(const std::string& name, int attributes, PropertyType type);

    static constexpr PropertyType kNodeType = static_cast<PropertyType>(-1);

  private:
    // Adds name (below the root) and returns where the open names now lie.
    NodePath::CompareResult open(const std::string& name);
    NodePath::CompareResult current() const;
    // Modify and replace filter alike; replace says which event is passed on.
    void passGenericNode(const std::string& name, int attributes, PropertyType type, bool replace);
    // Inside a removed ancestor of the path nothing passes but its end.
    bool insideRemoval() const { return mRemovedDepth != 0; }

    const NodePath* mPath;
    ITreeHandler* mHandler;
    std::vector<std::string> mOpenNames;  // below the layer's outermost node
    int mRememberedAttributes;
    int mDepth;         // open levels, the outermost node included
    int mRemovedDepth;  // depth of a removed ancestor of the path; 0 for none
};

}  // namespace vesk::legacy
