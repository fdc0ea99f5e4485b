// SPDX-License-Identifier: LGPL-2.1-or-later
// What one component's policy may cost, and the failure of a layer that asks
// for more: so that no layer, hostile or careless, can exhaust memory. The
// bounds are ten times the largest policy we can imagine (a few thousand nodes,
// lists of a few thousand items); docs/policy-layers.md states them. Readers
// turn the failure into a broken-layer error, thrown before the excess is built.
//
//   if (++mNodes > LayerLimitExceeded::kMaxNodes) throw LayerLimitExceeded::nodes();
#pragma once

#include <cstddef>
#include <string>

namespace vesk::legacy {

class LayerLimitExceeded {
  public:
    // Items in one list value (checked before the value is split).
    static constexpr size_t kMaxListItems = 100000;
    // Nodes one tree may create, over all its layers, and nodes in one layer.
    static constexpr size_t kMaxNodes = 200000;
    // Values and list items one tree may store, over all its layers.
    static constexpr size_t kMaxValues = 1000000;

    // Bytes in one node name, and in a node's path below the root (names and
    // the "/" between them): whatever prints or matches full paths then costs
    // at most this much per node.
    static constexpr size_t kMaxNameBytes = 4096;
    static constexpr size_t kMaxPathBytes = 65536;

    static LayerLimitExceeded nameLength() {
        return LayerLimitExceeded("a node name is longer than " + std::to_string(kMaxNameBytes) +
                                  " bytes");
    }
    static LayerLimitExceeded pathLength() {
        return LayerLimitExceeded("a node path is longer than " + std::to_string(kMaxPathBytes) +
                                  " bytes");
    }
    static LayerLimitExceeded listItems() {
        return LayerLimitExceeded("a list value holds more than " + std::to_string(kMaxListItems) +
                                  " items");
    }
    static LayerLimitExceeded nodes() {
        return LayerLimitExceeded("more than " + std::to_string(kMaxNodes) + " nodes");
    }
    static LayerLimitExceeded values() {
        return LayerLimitExceeded("more than " + std::to_string(kMaxValues) +
                                  " values and list items");
    }

    const std::string& getMessage() const { return mMessage; }

  private:
    explicit LayerLimitExceeded(std::string message) : mMessage(std::move(message)) {}

    std::string mMessage;
};

}  // namespace vesk::legacy
