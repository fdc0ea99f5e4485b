// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LayerWatch.h"

#include <time.h>

#include "ChangePrinter.h"
#include "ExitStatus.h"
#include "PolicyStore.h"
#include "TextEscape.h"
#include "papi.h"
#include "policy/PolicyLayer.h"

namespace vesk::legacy::hollinctl {

LayerWatch::LayerWatch(const PolicyStore& store, const std::string& component,
                       ChangePrinter& printer)
    : mStore(store), mComponent(component), mPrinter(printer) {}

LayerWatch::~LayerWatch() {
    if (mListener != nullptr) {
        mStore.removeChangeListener(mListener);
    }
}

void LayerWatch::start() {
    if (mStore.plan().isPlanned()) {
        examine();  // PlannedWatch asks again after each change
        return;
    }
    // Listening first: a change right after the first reading is not missed.
    mListener = mStore.addChangeListener(
        mComponent,
        [](const PAPIEvent*, void* self) {
            try {
                static_cast<LayerWatch*>(self)->examine();
            } catch (...) {
                // The watcher thread must go on; the next event tries again.
            }
        },
        this);
    if (mStore.polling()) {
        mPrinter.print(mPrinter.layerLine(
            "polling", mComponent, nullptr,
            "no inotify watch can be set up: the store is checked for changes every 2 s",
            static_cast<long long>(::time(nullptr))));
    }
    examine();
}

void LayerWatch::examine() {
    // The first reading and the watcher thread's may overlap.
    std::lock_guard<std::mutex> lock(mMutex);
    const long long now = static_cast<long long>(::time(nullptr));
    std::vector<LayerInfo> read;
    try {
        read = describeLayers(mStore.readLayers(mComponent));
    } catch (const CommandError& failure) {
        if (failure.getMessage() != mUnreadable) {
            mUnreadable = failure.getMessage();
            mPrinter.print(mPrinter.layerLine("unreadable", mComponent, nullptr,
                                              "the layers cannot be read: " + mUnreadable, now));
        }
        return;
    }
    if (!mUnreadable.empty()) {
        mUnreadable.clear();
        mPrinter.print(mPrinter.layerLine("readable", mComponent, nullptr,
                                          "the layers can be read again", now));
    }
    std::map<std::string, LayerInfo> layers;
    for (const LayerInfo& layer : read) {
        layers[layer.scope] = layer;
        const auto before = mLayers.find(layer.scope);
        const bool wasBroken = before != mLayers.end() && before->second.error.failed;
        if (layer.error.failed && (!wasBroken || before->second.error.line != layer.error.line ||
                                   before->second.error.column != layer.error.column ||
                                   before->second.error.message != layer.error.message)) {
            mPrinter.print(
                mPrinter.layerLine("broken", mComponent, &layer, brokenWarning(layer), now));
        } else if (!layer.error.failed && wasBroken) {
            mPrinter.print(mPrinter.layerLine("mended", mComponent, &layer,
                                              "layer " + layerLabel(layer) + " is read in full",
                                              now));
        }
    }
    for (const auto& [scope, layer] : mLayers) {
        if (layers.count(scope) == 0) {
            mPrinter.print(mPrinter.layerLine(
                "vanished", mComponent, nullptr,
                "the layer of " + printable(scope) + " is gone; what it set is no longer applied",
                now));
        }
    }
    mLayers = std::move(layers);
}

}  // namespace vesk::legacy::hollinctl
