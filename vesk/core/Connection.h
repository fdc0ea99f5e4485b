// SPDX-License-Identifier: LGPL-2.1-or-later
// One open handle of the policy service: the backend that holds the entity's
// layers, its listeners, and the watcher thread that turns changes of the
// backend into events, the same for every backend.
//
//   auto connection = std::make_shared<Connection>(std::move(backend), nullptr, nullptr);
//   connection->addListener("org.example", callback, data, id);  // starts the thread
//   connection->shutdown();                                       // stops it
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Backend.h"
#include "ChangeSource.h"
#include "papi.h"

namespace vesk::legacy::store {

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    // The state listener, if any, hears of the backend's connection state on
    // the watcher thread, like the change listeners.
    Connection(std::unique_ptr<Backend> backend, PAPIConnectionListener stateListener,
               void* stateData);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Backend& backend() { return *mBackend; }

    PAPIStatus addListener(const std::string& component, PAPIListener listener, void* userData,
                           std::uintptr_t& id);
    // Waits for a callback of this listener in progress on the watcher
    // thread, unless it is that callback which asks.
    PAPIStatus removeListener(std::uintptr_t id);
    // Changes are found by checking on a timer (see ChangeSource::polling).
    bool polling();

    // Stops the watcher: joins it, or detaches it when called from one of its
    // callbacks. No callback starts after it returns.
    void shutdown();
    // Process exit: asks the watcher to stop and waits for it until the
    // deadline; a watcher stuck in a callback is left to the exit.
    void requestStop();
    void finishBefore(std::chrono::steady_clock::time_point deadline);

  private:
    struct Listener {
        std::string component;
        PAPIListener callback;
        void* userData;
    };
    struct ComponentState {
        int listeners = 0;
        bool hadLayers = false;
        // The store could not be read at the last look: its return is an
        // event whatever the layers look like then.
        bool unreachable = false;
        std::vector<std::string> fingerprint;
        // Since when a layer seen before has been away (zero: none is), while
        // its removal settles.
        std::chrono::steady_clock::time_point removedSince;
    };
    // A change event for a listener, or (with stateCallback set) a state.
    struct Call {
        std::uintptr_t id;
        PAPIListener callback;
        void* userData;
        std::string component;
        int type;
        PAPIConnectionListener stateCallback;
        PAPIConnectionState state;
    };

    PAPIStatus startWatcher();
    void run();
    int pollTimeout();
    void takeChanges(const ChangeSource::Changes& changes);
    std::chrono::steady_clock::time_point batchDue() const;  // with mMutex held
    // With mMutex held: true while a vanished layer of the component settles.
    bool holdRemoval(ComponentState& state, const Backend::Presence& presence,
                     std::chrono::steady_clock::time_point now);
    std::chrono::steady_clock::time_point settledAt(const ComponentState& state) const;
    std::vector<Call> stateCalls();
    std::vector<Call> collectCalls();
    // With mMutex held: the event a component's layers make now, or
    // kNoEvent; notified says a change notice counts though the layers look
    // the same. Sets failed when the backend could not be read.
    static constexpr int kNoEvent = -1;
    int eventOf(const std::string& component, ComponentState& state, bool notified,
                std::chrono::steady_clock::time_point now, bool& failed);
    void dispatch(const std::vector<Call>& calls);
    bool onWatcherThread() const;
    void wake();  // makes the watcher look at its timers again; with mMutex held

    // Declared before the watcher, which goes first.
    std::unique_ptr<Backend> mBackend;
    const PAPIConnectionListener mStateListener;
    void* const mStateData;
    // Made with the handle, opened with its first listener (mWatching).
    std::unique_ptr<ChangeSource> mWatcher;
    bool mWatching = false;
    int mWakeFd = -1;  // eventfd that wakes the watcher to stop

    std::mutex mMutex;
    std::condition_variable mChanged;
    std::map<std::uintptr_t, Listener> mListeners;
    std::map<std::string, ComponentState> mComponents;
    // Changes gathered since the last delivery.
    ChangeSource::Changes mPending;
    // Components whose backend could not be read at delivery: compared again
    // at mRetryAt, so a change is not lost to a passing failure.
    std::set<std::string> mRetry;
    std::chrono::steady_clock::time_point mRetryAt;
    std::chrono::milliseconds mRetryDelay;
    bool mBatchOpen = false;
    // The first change after a quiet spell goes out at once; the rest of its
    // burst waits for the next quiet spell.
    bool mLeadingEdge = false;
    std::chrono::steady_clock::time_point mFirstChange;
    std::chrono::steady_clock::time_point mLastChange;
    std::chrono::steady_clock::time_point mLastActivity;  // any change, delivered or not
    std::uintptr_t mCallbackListener = 0;                 // listener whose callback runs now
    bool mStopping = false;
    bool mFinished = false;
    bool mShutdownClaimed = false;
    std::unique_ptr<std::thread> mThread;
    std::thread::id mThreadId;
    pid_t mThreadOwner = 0;  // the process the watcher runs in
};

}  // namespace vesk::legacy::store
