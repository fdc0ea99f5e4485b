// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LayerInfo.h"

#include <time.h>

#include <cstdlib>

#include "JsonWriter.h"
#include "ScopePlan.h"
#include "TextEscape.h"
#include "layers/TreeMerger.h"
#include "model/Tree.h"
#include "policy/PolicyLayer.h"

namespace vesk::legacy::hollinctl {

namespace {

// Splits "scope 1733500000" at its last blank when only digits follow.
void splitStamp(LayerInfo& info) {
    info.scope = info.stamp;
    const size_t blank = info.stamp.rfind(' ');
    if (blank == std::string::npos || blank + 1 == info.stamp.size() ||
        info.stamp.size() - blank - 1 > 18) {
        return;
    }
    const std::string digits = info.stamp.substr(blank + 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos) {
        return;
    }
    info.scope = info.stamp.substr(0, blank);
    info.time = std::strtoll(digits.c_str(), nullptr, 10);
}

}  // namespace

LayerInfo describeStamp(const std::string& stamp) {
    LayerInfo info;
    info.stamp = stamp;
    splitStamp(info);
    return info;
}

std::vector<LayerInfo> describeLayers(const std::vector<PolicyLayer>& layers) {
    std::vector<LayerInfo> infos;
    for (size_t i = 0; i < layers.size(); ++i) {
        LayerInfo info;
        info.position = static_cast<int>(i) + 1;
        info.stamp = layers[i].getLayer().getStamp();
        info.size = layers[i].getLayer().getText().size();
        splitStamp(info);
        // The reader's verdict, from a read into a throwaway merger.
        TreeMerger scratch;
        layers[i].getLayer().read(scratch, &info.error);
        scratch.takeTree();  // dropped
        infos.push_back(std::move(info));
    }
    return infos;
}

std::string brokenText(const LayerInfo& layer) {
    if (!layer.error.failed) {
        return "";
    }
    return "layer " + layerLabel(layer) + " is broken at line " + std::to_string(layer.error.line) +
           ", column " + std::to_string(layer.error.column) + ": " + printable(layer.error.message);
}

namespace {
const char kLeftOut[] = "left out: the name cannot name a scope";
}

LayerInfo LayerInfo::absent(const std::string& scope) {
    LayerInfo info;
    info.scope = scope;
    info.problem = ScopePlan::namesAScope(scope) ? "no file" : kLeftOut;
    return info;
}

bool LayerInfo::isAbsent() const {
    return problem == "no file" || problem == kLeftOut;
}

std::string brokenWarning(const LayerInfo& layer) {
    if (!layer.error.failed) {
        return "";
    }
    return brokenText(layer) +
           "; programs keep the policy they have, or start from the kept copy, or without one "
           "from the layers before it";
}

std::string layerLabel(const LayerInfo& layer) {
    return std::to_string(layer.position) + " " + printable(layer.scope);
}

std::string formatTime(long long time) {
    if (time < 0) {
        return "-";
    }
    const time_t seconds = static_cast<time_t>(time);
    struct tm local;
    char buffer[64];
    if (localtime_r(&seconds, &local) == nullptr ||
        strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local) == 0) {
        return std::to_string(time);
    }
    return buffer;
}

void writeLayerReference(JsonWriter& json, const LayerInfo& layer) {
    json.beginObject()
        .key("position")
        .number(layer.position)
        .key("stamp")
        .string(layer.stamp)
        .endObject();
}

}  // namespace vesk::legacy::hollinctl
