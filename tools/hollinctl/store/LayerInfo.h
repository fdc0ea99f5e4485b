// SPDX-License-Identifier: LGPL-2.1-or-later
// What hollinctl shows of a layer besides its content: position, stamp (for
// the file store "scope time", as in "users/alice 1733500000"), size, and
// whether the library's reader finds it well-formed.
//
//   std::vector<LayerInfo> infos = describeLayers(store.readLayers("com.example"));
#pragma once

#include <string>
#include <vector>

#include "layers/XmlUpdateLayer.h"

namespace vesk::legacy {
class PolicyLayer;
}

namespace vesk::legacy::hollinctl {

class JsonWriter;

struct LayerInfo {
    int position = 0;  // from 1, in merge order
    std::string stamp;
    // The stamp without its time; the whole stamp when it has no time.
    std::string scope;
    // Seconds since the epoch, or -1 when the stamp carries no time.
    long long time = -1;
    size_t size = 0;
    XmlUpdateLayer::ParseError error;  // failed: the layer is broken from error.line on
    // Why the file could not be read ("Permission denied"), or "no file" for a
    // scope searched without a layer (position 0 then); empty for a layer read.
    std::string problem;

    // The row of a scope searched that gave no layer: "no file", or left out
    // because libvesk cannot name the scope, whatever files are there.
    static LayerInfo absent(const std::string& scope);
    bool isAbsent() const;
};

std::vector<LayerInfo> describeLayers(const std::vector<PolicyLayer>& layers);
// A layer known only by its stamp (scope and time), as a kept copy lists them.
LayerInfo describeStamp(const std::string& stamp);

// "layer 2 hosts/ws12 is broken at line 3, column 1: <reason>", or "" for a
// layer read in full.
std::string brokenText(const LayerInfo& layer);
// brokenText and what programs make of the layer: "" for a layer read in full.
std::string brokenWarning(const LayerInfo& layer);

// "1 default": how other output names a layer.
std::string layerLabel(const LayerInfo& layer);
// Local time as "2024-12-06 16:53:20", or "-" without a time.
std::string formatTime(long long time);
// {"position":1,"stamp":"default 1733500000"}
void writeLayerReference(JsonWriter& json, const LayerInfo& layer);

}  // namespace vesk::legacy::hollinctl
