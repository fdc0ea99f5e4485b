// SPDX-License-Identifier: LGPL-2.1-or-later
// Listeners: the listeners registered for one node path (the NodePath base),
// in registration order. The same listener may be registered more than once;
// each registration carries a serial number, so a caller walking the list can
// tell whether a registration it saw earlier still exists.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "model/HollinExport.h"
#include "model/NodePath.h"

namespace vesk::legacy {

class INodeListener;

class HOLLIN_EXPORT Listeners : public NodePath {
  public:
    struct Registration {
        INodeListener* listener;
        // Unique in the process and increasing with time, so the list is
        // always sorted by it.
        std::uint64_t serial;
    };

    explicit Listeners(const NodePath& path);

    // Appends; duplicates are kept.
    void addListener(INodeListener* listener);
    // Removes the first registration of the listener, if any.
    void removeListener(INodeListener* listener);

    const std::vector<Registration>& getRegistrations() const { return mListeners; }
    // The first registration whose serial is above the given one, or null.
    const Registration* findAfter(std::uint64_t serial) const;
    bool isEmpty() const { return mListeners.empty(); }

    // The serial the next registration anywhere will get: registrations made
    // from now on have this serial or a higher one.
    static std::uint64_t nextSerial() { return sNextSerial.load(); }

  private:
    // Registries of different components may be changed on different threads.
    static std::atomic<std::uint64_t> sNextSerial;

    std::vector<Registration> mListeners;
};

}  // namespace vesk::legacy
