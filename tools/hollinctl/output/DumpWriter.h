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

    // Paths longer than this are shown as "…/NAME" in text and as null in
    // JSON (whose nodes name their parent): printed in full, a deep group's
    // path would be repeated for every node below it.
    static constexpr size_t kMaxPathShown = 1024;

  private:
    // A node in walk order: its group's row (kNoParent for the first), and
    // the length of its names, "/" before each.
    struct Row {
        const Node* node;
        const NodeHistories::Place* place;
        size_t parent;
        size_t pathLength;
    };
    static constexpr size_t kNoParent = static_cast<size_t>(-1);
    struct Removed {
        NodeHistories::Names names;  // only the last name when the path is too long
        bool shortened;
        int layer;
    };
    // Calls visit(row, names, path) for each row in order; path is empty when
    // longer than kMaxPathShown, names are the row's names below the root.
    template <typename Visit>
    void eachRow(Visit visit) const;

    // "1 default" for a layer position, "-" for 0 or an unknown one.
    std::string label(int position) const;
    const LayerInfo* layerAt(int position) const;
    std::string lockText(const Node& node, const NodeHistory* history) const;
    // The text's list of layers, and the lines below a row: values, refusals.
    std::string layerLines() const;
    std::string rowNotes(const Row& row, const NodeHistories::Names& names) const;
    // One node of the JSON document, and a reference to a layer (null for 0).
    void writeNode(JsonWriter& json, const Row& row, const NodeHistories::Names& names,
                   const std::string& path) const;
    void writeReference(JsonWriter& json, int position) const;

    std::string mComponent;
    ScopePlan mPlan;
    std::vector<LayerInfo> mLayers;
    const Provenance& mProvenance;
    std::vector<Row> mRows;
    std::vector<Removed> mRemoved;
    bool mShowRemoved = false;
    // Names of the node collect started at; the walk's open rows.
    NodeHistories::Names mTop;
    std::vector<size_t> mOpen;
};

}  // namespace vesk::legacy::hollinctl
