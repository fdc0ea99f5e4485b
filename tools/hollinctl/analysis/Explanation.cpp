// SPDX-License-Identifier: LGPL-2.1-or-later
#include "Explanation.h"

#include <algorithm>

#include "DumpWriter.h"
#include "Provenance.h"
#include "change/TreeComparator.h"
#include "model/Node.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "policy/PolicyLayer.h"

namespace vesk::legacy::hollinctl {

namespace {

bool contains(const std::vector<int>& layers, int layer) {
    return std::find(layers.begin(), layers.end(), layer) != layers.end();
}

}  // namespace

Explanation::Explanation(const std::vector<PolicyLayer>& layers,
                         const std::vector<std::string>& names) {
    const Provenance merged(layers);
    mExists = StructuralNode::findPath(merged.getRoot(), names) != nullptr;
    const NodeHistory* history = merged.find(names);
    const std::vector<LayerInfo> infos = describeLayers(layers);
    const int removedBy = merged.histories().removedBy(names);
    for (size_t i = 0; i < layers.size(); ++i) {
        const int position = static_cast<int>(i) + 1;
        Row row;
        row.layer = infos[i];
        // The layer alone: what it says of the node, whatever came before.
        const Provenance alone({layers[i]});
        const Node* node = StructuralNode::findPath(alone.getRoot(), names);
        row.mentions = node != nullptr;
        if (node != nullptr) {
            if (const PropertyNode* property = node->asPropertyNode()) {
                const PropertyNode::Value* value = property->findBestValue("default");
                row.value = value != nullptr && value->isSet()
                                ? DumpWriter::valueText(*property, "default")
                                : "";
            }
            row.locks = isProtected(node->getAttributes());
        }
        if (history != nullptr && history->lockedBy == position) {
            row.locks = true;
        }
        if (history != nullptr && contains(history->refusedFrom, position)) {
            row.outcome = Outcome::Refused;
            row.by = history->lockedBy;
        } else if (history != nullptr &&
                   std::any_of(history->ignored.begin(), history->ignored.end(),
                               [&](const NodeHistory::Ignored& ignored) {
                                   return ignored.layer == position &&
                                          (row.reason = ignored.reason, true);
                               })) {
            row.outcome = Outcome::Ignored;
        } else if (row.mentions && !row.value.empty() && history != nullptr &&
                   history->setBy == position && mExists) {
            row.outcome = Outcome::Applied;
        } else if (row.mentions && !row.value.empty() && removedBy > position && !mExists) {
            row.outcome = Outcome::Removed;
            row.by = removedBy;
        } else if (row.mentions && !row.value.empty() && history != nullptr) {
            // An earlier setter: this layer wrote the value that was there.
            row.outcome = history->setBy > position ? Outcome::Replaced : Outcome::Same;
            row.by = history->setBy;
        }
        mRows.push_back(row);
    }
}

const char* Explanation::outcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Applied:
            return "applied";
        case Outcome::Refused:
            return "refused";
        case Outcome::Ignored:
            return "ignored";
        case Outcome::Replaced:
            return "replaced";
        case Outcome::Removed:
            return "removed";
        case Outcome::Same:
            return "unchanged";
        case Outcome::Silent:
            break;
    }
    return "-";
}

}  // namespace vesk::legacy::hollinctl
