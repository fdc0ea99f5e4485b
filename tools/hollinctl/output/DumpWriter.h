// SPDX-License-Identifier: LGPL-2.1-or-later
// Writes the effective tree of a component (or a subtree) with the reasons
// behind it: per node its path, type, values per locale, the layer that last
// set it, the layer that locked it and the layers whose changes the lock
// refused. Text is aligned for a terminal; JSON is one document.
//
//   DumpWriter dump(component, store.plan(), describeLayers(layers), provenance);
//   dump.collect(*node, names);        // the subtree at node
//   std::fputs(dump.text().c_str(), stdout);
#pragma once

#include <string>
#include <vector>

#include "LayerInfo.h"
#include "NodeHistories.h"
#include "ScopePlan.h"
#include "model/NodeVisitor.h"

namespace vesk::legacy {
class PropertyNode;
}

namespace vesk::legacy::hollinctl {

class JsonWriter;

class Provenance;

class DumpWriter : public NodeVisitor {
  public:
    // Nothing is owned; the provenance must outlive the writer.
    DumpWriter(const std::string& component, ScopePlan plan, std::vector<LayerInfo> layers,
               const Provenance& provenance);
    virtual ~DumpWriter();

    // Adds node and everything below it; names are the node's names below the root.
    void collect(Node& node, const NodeHistories::Names& names);
    // Adds the nodes at or below names that a later layer removed.
    void collectRemoved(const NodeHistories::Names& names);

    std::string text() const;
    std::string json() const;

    // A property's value as dump shows it: "text" or ["a", "b"], escaped.
    static std::string valueText(const PropertyNode& property, const std::string& locale);

    bool preChildrenProcess(Node& node) override;
    bool postChildrenProcess(Node& node) override;

  private:
    struct Row {
        NodeHistories::Names names;
        const Node* node;
    };

    // "1 default" for a layer position, "-" for 0 or an unknown one.
    std::string label(int position) const;
    const LayerInfo* layerAt(int position) const;
    std::string lockText(const Node& node, const NodeHistory* history) const;
    // The text's list of layers, and the lines below a row: values, refusals.
    std::string layerLines() const;
    std::string rowNotes(const Row& row) const;
    // One node of the JSON document, and a reference to a layer (null for 0).
    void writeNode(JsonWriter& json, const Row& row) const;
    void writeReference(JsonWriter& json, int position) const;

    std::string mComponent;
    ScopePlan mPlan;
    std::vector<LayerInfo> mLayers;
    const Provenance& mProvenance;
    std::vector<Row> mRows;
    std::vector<std::pair<NodeHistories::Names, int>> mRemoved;
    bool mShowRemoved = false;
    // The walk's position: names of the current node, and its depth below the
    // node collect started at.
    NodeHistories::Names mNames;
    int mDepth = 0;
};

}  // namespace vesk::legacy::hollinctl
