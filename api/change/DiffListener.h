// SPDX-License-Identifier: LGPL-2.1-or-later
// DiffListener: the node listeners of one component, by registered path. It
// calls the listeners that a changed node concerns: those registered for the
// node itself or for one of its ancestors.
//
//   DiffListener registry("com.orvek.ferrun.applications");
//   registry.addListener(path, &listener);
//   TreeDiff diff(component, &registry, oldTree);   // calls it during substract
//
// Listeners may add and remove registrations from inside their call: a removal
// takes effect at once (the removed registration is not called again), an
// addition from the next change event on. Not locked: the owner serialises.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "change/INodeListener.h"
#include "change/Listeners.h"
#include "layers/ActionType.h"
#include "model/HollinExport.h"
#include "model/NodePath.h"

namespace vesk::legacy {

class INodeListener;

class HOLLIN_EXPORT DiffListener {
  public:
    explicit DiffListener(const std::string& component);
    ~DiffListener();
    DiffListener(const DiffListener&) = delete;
    DiffListener& operator=(const DiffListener&) = delete;

    void addListener(const NodePath& path, INodeListener* listener);
    // True when no listener is left for exactly this path afterwards; false
    // when some remain or the path was never registered. Others paths of the
    // component are not looked at (see hasListeners).
    bool removeListener(const NodePath& path, INodeListener* listener);
    // Whether any path of the component still has a listener.
    bool hasListeners() const;

    void callAddedListeners(const NodePath& path) const;
    void callRemovedListeners(const NodePath& path) const;
    void callChangedListeners(const NodePath& path) const;
    // Calls every concerned listener; a listener that throws is logged and
    // the others are still called.
    void callListeners(const NodePath& path, ActionType action) const;

    // Bracket one change event (TreeDiff does this at startTree and endTree):
    // registrations made in between are called from the next event on.
    // endChange calls onChangeComplete of every listener notified since the
    // matching begin that is still registered. Events may nest; each begin
    // needs one end.
    void beginChange() const;
    void endChange() const;
    // What the change events that follow led to, for onChangeCompleteWith;
    // without a tree (the default) endChange calls onChangeComplete().
    // Returns the outcome it replaces, for the caller to put back.
    ChangeOutcome exchangeOutcome(ChangeOutcome outcome) const;
    // Makes the next change event end with onChangeComplete to every
    // listener registered before it, whether a node of its concerned it or
    // not: a read that became complete is news to all of them.
    void completeEveryoneNext() const;

    const std::string& getComponent() const { return mComponent; }

  private:
    // Ordered by the path text first, so entries are called in byte order of
    // their text; the names keep apart paths whose texts only look alike
    // because a name holds a "/".
    using Key = std::pair<std::string, std::vector<std::string>>;

    static Key keyOf(const NodePath& path);
    void notify(const Listeners::Registration& registration, const NodePath& path,
                ActionType action) const;
    bool isRegistered(const INodeListener* listener) const;

    std::string mComponent;
    // Entries stay when emptied, so a walk over the map is never invalidated
    // by a listener removing itself.
    std::map<Key, std::unique_ptr<Listeners>> mListeners;
    // One limit per running change event, innermost last: registrations with
    // a serial at or above it were made during that event.
    mutable std::vector<std::uint64_t> mChangeLimits;
    // Per running change event, innermost last: the listeners notified in it,
    // in the order of their first call.
    mutable std::vector<std::vector<INodeListener*>> mNotified;
    // Per running change event, innermost last: whether it ends with every
    // listener; and the wish for the next event to begin.
    mutable std::vector<bool> mEveryone;
    mutable bool mEveryoneNext = false;
    mutable ChangeOutcome mOutcome;
};

}  // namespace vesk::legacy
