// SPDX-License-Identifier: LGPL-2.1-or-later
// The configuration facade's way to the policy service: hands out a component's
// layers as PolicyLayer objects, and lets any number of IPolicyListener objects
// watch a component while the service sees one registration per component.
//
//   PolicyAccess access;                      // shared connection for ""
//   std::vector<PolicyLayer> layers;
//   access.getPolicyLayers(path, layers);
//   access.addListener(path, &listener);      // listener called on the service's thread
//   ...
//   access.removeListener(path, &listener);   // not called any more once this returns
//
// Thread safety: events arrive on the service's thread while other threads add
// and remove listeners; the listener map is guarded by a mutex that is never held
// while the service is called nor while listeners run. A listener may add or
// remove listeners (itself included) from inside its call. removeListener and
// the destructor wait for a call in progress on another thread, so they must not
// be called while holding a lock that a listener takes. A PolicyAccess must not
// be destroyed from inside one of its own listener calls.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "model/HollinExport.h"
#include "model/NodePath.h"
#include "papi.h"
#include "policy/IPolicyListener.h"
#include "policy/PapiConnection.h"
#include "policy/PolicyLayer.h"

namespace vesk::legacy {

class HOLLIN_EXPORT PolicyAccess {
  public:
    // The watchers of one component.
    struct Listeners {
        // The service's registration for the component, null while there is none.
        // Kept with an empty set after an unregistration failed: the service may
        // still call, and the next addListener takes it over.
        void* mServiceHandle = nullptr;
        std::set<IPolicyListener*> mListenerSet;  // not owned
    };

    // Take one use of the shared connection for "" or the given string.
    // Throw PapiException.
    PolicyAccess();
    explicit PolicyAccess(const std::string& connectionString);
    // Unregisters every component still watched (a failure is logged and the rest
    // go on), so that no event names a destroyed object, then gives the
    // connection back.
    ~PolicyAccess();

    // Copies would release the connection twice and share registrations.
    PolicyAccess(const PolicyAccess&) = delete;
    PolicyAccess& operator=(const PolicyAccess&) = delete;

    // Appends one PolicyLayer per layer of the path's component, in the service's
    // order; on PapiException the vector is unchanged.
    void getPolicyLayers(const NodePath& path, std::vector<PolicyLayer>& layers) const;

    // Only the path's component counts. The first listener of a component
    // registers it with the service; if that throws, the listener is not added
    // and the next call tries again. A null listener is ignored.
    void addListener(const NodePath& path, IPolicyListener* listener);
    // The last listener of a component unregisters it. Throws PapiException when
    // the service refuses; the listener is removed all the same.
    void removeListener(const NodePath& path, IPolicyListener* listener);

    // Calls the component's listeners by event type: 0 onComponentAdd,
    // 1 onComponentModify, 2 onComponentRemove; other types and a null component
    // call nobody. Listeners are taken from a snapshot and each is called only if
    // still registered. A throwing listener does not stop the others; the first
    // exception is rethrown at the end, later ones are logged.
    void processEvent(const PAPIEvent& event) const;

  private:
    bool isListening(const std::string& component, IPolicyListener* listener) const;
    // Waits until no thread but this one is calling listeners. lock holds mMutex.
    void waitForOtherDispatches(std::unique_lock<std::mutex>& lock) const;

    PapiConnection* mConnection;
    std::map<std::string, Listeners> mListeners;
    // Registrations that could not be unregistered and are not in mListeners;
    // tried again by the destructor.
    std::vector<std::pair<std::string, void*>> mStrayHandles;
    mutable std::mutex mMutex;  // guards mListeners, mStrayHandles and mDispatchers
    mutable std::condition_variable mDispatchEnded;
    mutable std::multiset<std::thread::id> mDispatchers;  // threads calling listeners
};

// The callback handed to the service; userData is the PolicyAccess. A null
// event, component or user data is ignored. Catches everything a listener
// throws and logs it with Logger::error: nothing travels into the service.
HOLLIN_EXPORT void componentChange(const PAPIEvent* event, void* userData);

}  // namespace vesk::legacy
