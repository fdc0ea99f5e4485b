// SPDX-License-Identifier: LGPL-2.1-or-later
// The layer side of "hollinctl watch": after every change event of the
// component it reads the layers again and reports, as events of their own,
// a layer that became broken or was mended, a layer that vanished, and a
// stack that cannot be read (and when it can be again). Node changes are
// ChangePrinter's; both write through the same printer.
//
//   LayerWatch layers(store, "com.example", printer);
//   layers.start();     // reports the broken layers there already
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "LayerInfo.h"

namespace vesk::legacy {
class PapiConnection;
}

namespace vesk::legacy::hollinctl {

class ChangePrinter;
class PolicyStore;

class LayerWatch {
  public:
    // Nothing is owned; store and printer must outlive the watch.
    LayerWatch(const PolicyStore& store, const std::string& component, ChangePrinter& printer);
    ~LayerWatch();
    LayerWatch(const LayerWatch&) = delete;
    LayerWatch& operator=(const LayerWatch&) = delete;

    // Reports the current state's problems and listens from then on (for a
    // planned stack, PlannedWatch calls examine instead).
    void start();
    // Reads the layers and reports what differs from the last reading.
    void examine();

  private:
    static void onEvent(const void* event, void* self);

    const PolicyStore& mStore;
    std::string mComponent;
    ChangePrinter& mPrinter;
    PapiConnection* mConnection = nullptr;
    void* mListener = nullptr;
    // Per scope: "" read in full, otherwise why not; mUnreadable: why the
    // stack could not be read ("" when it could).
    std::map<std::string, LayerInfo> mLayers;
    std::string mUnreadable;
    std::mutex mMutex;
};

}  // namespace vesk::legacy::hollinctl
