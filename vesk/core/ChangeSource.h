// SPDX-License-Identifier: LGPL-2.1-or-later
// What wakes a handle's watcher thread: a descriptor to wait on and the
// changes it stands for (inotify for the file store, a persistent search for
// the directory). The thread polls fd() until wakeAt(), then calls process().
//
//   std::unique_ptr<ChangeSource> source = backend.makeChangeSource();
//   if (source->open() == PAPISuccess) { poll(source->fd()); source->process(true, changes); }
#pragma once

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "papi.h"

namespace vesk::legacy::store {

class ChangeSource {
  public:
    using Clock = std::chrono::steady_clock;

    struct Changes {
        std::set<std::string> components;  // whose layer was written, added or removed
        bool structure = false;            // scopes came or went: compare every component
        bool overflow = false;             // notices were lost: every component changed
        // Likely the first half of an edit (a layer removed before its new
        // copy is put in place): not delivered before the files are quiet.
        bool settling = false;
        bool empty() const { return components.empty() && !structure && !overflow; }
    };

    virtual ~ChangeSource() = default;

    // Sets the watch up; a watch that cannot be set up is a status, never a
    // silent success. May be called again after a failure.
    virtual PAPIStatus open() = 0;
    // The descriptor to wait on, or -1 when there is none for now.
    virtual int fd() const = 0;
    // When process() wants to run even without activity on fd().
    virtual Clock::time_point wakeAt() const { return Clock::time_point::max(); }
    // Takes what fd() has to say (readable) and what is due; adds the changes.
    virtual void process(bool readable, Changes& changes) = 0;
    // True while changes are found by checking on a timer rather than told;
    // may be asked from any thread.
    virtual bool polling() const { return false; }
    // Connection states entered since the last call, oldest first.
    virtual std::vector<PAPIConnectionState> takeStateChanges() { return {}; }
};

}  // namespace vesk::legacy::store
