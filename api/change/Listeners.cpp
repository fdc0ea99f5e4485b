// SPDX-License-Identifier: LGPL-2.1-or-later
#include "change/Listeners.h"

#include <algorithm>

namespace vesk::legacy {

// Serial 0 is never handed out, so "after 0" means "from the first".
std::atomic<std::uint64_t> Listeners::sNextSerial{1};

Listeners::Listeners(const NodePath& path) : NodePath(path.getComponent(), path.getNames()) {}

void Listeners::addListener(INodeListener* listener) {
    mListeners.push_back(Registration{listener, sNextSerial.fetch_add(1)});
}

void Listeners::removeListener(INodeListener* listener) {
    auto found = std::find_if(mListeners.begin(), mListeners.end(),
                              [listener](const Registration& r) { return r.listener == listener; });
    if (found != mListeners.end()) {
        mListeners.erase(found);
    }
}

const Listeners::Registration* Listeners::findAfter(std::uint64_t serial) const {
    auto found = std::upper_bound(
        mListeners.begin(), mListeners.end(), serial,
        [](std::uint64_t value, const Registration& r) { return value < r.serial; });
    return found == mListeners.end() ? nullptr : &*found;
}

}  // namespace vesk::legacy
