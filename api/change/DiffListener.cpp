// SPDX-License-Identifier: LGPL-2.1-or-later
#include "change/DiffListener.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <utility>
#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include "change/INodeListener.h"
#include "model/Exception.h"
#include "model/LogText.h"
#include "model/Logger.h"

namespace vesk::legacy {

DiffListener::DiffListener(const std::string& component) : mComponent(component) {}

DiffListener::~DiffListener() = default;

DiffListener::Key DiffListener::keyOf(const NodePath& path) {
    return Key(path.getPath(), path.getNames());
}

void DiffListener::addListener(const NodePath& path, INodeListener* listener) {
    std::unique_ptr<Listeners>& entry = mListeners[keyOf(path)];
    if (!entry) {
        entry = std::make_unique<Listeners>(path);
    }
    entry->addListener(listener);
}

bool DiffListener::removeListener(const NodePath& path, INodeListener* listener) {
    auto found = mListeners.find(keyOf(path));
    if (found == mListeners.end()) {
        return false;
    }
    found->second->removeListener(listener);
    return found->second->isEmpty();
}

bool DiffListener::hasListeners() const {
    for (const auto& entry : mListeners) {
        if (!entry.second->isEmpty()) {
            return true;
        }
    }
    return false;
}

void DiffListener::callAddedListeners(const NodePath& path) const {
    callListeners(path, ActionType::Added);
}

void DiffListener::callRemovedListeners(const NodePath& path) const {
    callListeners(path, ActionType::Removed);
}

void DiffListener::callChangedListeners(const NodePath& path) const {
    callListeners(path, ActionType::Changed);
}

void DiffListener::callListeners(const NodePath& path, ActionType action) const {
    if (action != ActionType::Added && action != ActionType::Removed &&
        action != ActionType::Changed) {
        return;
    }
    const std::uint64_t limit =
        mChangeLimits.empty() ? std::numeric_limits<std::uint64_t>::max() : mChangeLimits.back();

    // Listeners may register and unregister while we call them. The map only
    // ever grows (its iterators stay valid), and within an entry we step by
    // serial rather than by position: a removed registration is simply not
    // found again, and one added now has a serial at or above the limit.
    for (const auto& entry : mListeners) {
        const Listeners& listeners = *entry.second;
        const NodePath::CompareResult where = path.compare(listeners);
        if (where != NodePath::Equal && where != NodePath::Ancestor) {
            continue;
        }
        std::uint64_t last = 0;
        while (const Listeners::Registration* next = listeners.findAfter(last)) {
            if (next->serial >= limit) {
                break;
            }
            last = next->serial;
            notify(*next, path, action);
        }
    }
}

namespace {

// One failing client must not keep the others from hearing of the change;
// where names the call in the log line.
template <typename Call>
void guarded(const std::string& where, Call&& call) {
    try {
        call();
#if defined(__GLIBCXX__)
    } catch (abi::__forced_unwind&) {
        throw;  // thread cancellation must go on unwinding
#endif
    } catch (const std::exception& e) {
        Logger::error("Node listener failed for %s: %s\n", logText(where).c_str(),
                      logText(e.what()).c_str());
    } catch (...) {
        Logger::error("Node listener failed for %s: %s\n", logText(where).c_str(),
                      "unknown exception");
    }
}

}  // namespace

void DiffListener::notify(const Listeners::Registration& registration, const NodePath& path,
                          ActionType action) const {
    // The registration may be gone once the listener returns; copy first.
    INodeListener* listener = registration.listener;
    if (!listener) {
        return;
    }
    if (!mNotified.empty()) {
        std::vector<INodeListener*>& notified = mNotified.back();
        if (std::find(notified.begin(), notified.end(), listener) == notified.end()) {
            notified.push_back(listener);
        }
    }
    guarded(path.getComponent() + path.getPath(), [&] {
        switch (action) {
            case ActionType::Added:
                listener->onNodeAdded(path);
                break;
            case ActionType::Removed:
                listener->onNodeRemoved(path);
                break;
            case ActionType::Changed:
                listener->onNodeChanged(path);
                break;
        }
    });
}

bool DiffListener::isRegistered(const INodeListener* listener) const {
    for (const auto& entry : mListeners) {
        for (const Listeners::Registration& registration : entry.second->getRegistrations()) {
            if (registration.listener == listener) {
                return true;
            }
        }
    }
    return false;
}

void DiffListener::beginChange() const {
    mChangeLimits.push_back(Listeners::nextSerial());
    mNotified.emplace_back();
    mEveryone.push_back(std::exchange(mEveryoneNext, false));
}

ChangeOutcome DiffListener::exchangeOutcome(ChangeOutcome outcome) const {
    return std::exchange(mOutcome, std::move(outcome));
}

void DiffListener::completeEveryoneNext() const {
    mEveryoneNext = true;
}

void DiffListener::endChange() const {
    if (mChangeLimits.empty()) {
        return;
    }
    const std::uint64_t limit = mChangeLimits.back();
    mChangeLimits.pop_back();
    std::vector<INodeListener*> notified = std::move(mNotified.back());
    mNotified.pop_back();
    if (mEveryone.back()) {
        for (const auto& entry : mListeners) {
            for (const Listeners::Registration& registration : entry.second->getRegistrations()) {
                if (registration.serial < limit &&
                    std::find(notified.begin(), notified.end(), registration.listener) ==
                        notified.end()) {
                    notified.push_back(registration.listener);
                }
            }
        }
    }
    mEveryone.pop_back();
    // Kept apart: a listener may start another change during its call.
    const ChangeOutcome outcome = mOutcome;
    // A listener may remove another (which may then be gone) during its call:
    // look each one up just before calling it.
    for (INodeListener* listener : notified) {
        if (isRegistered(listener)) {
            guarded("the end of a change of " + mComponent, [listener, &outcome] {
                if (outcome.tree) {
                    listener->onChangeCompleteWith(outcome);
                } else {
                    listener->onChangeComplete();
                }
            });
        }
    }
}

}  // namespace vesk::legacy
