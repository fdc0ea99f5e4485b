// One open handle of the policy service: the entity's scope stack, its
// listeners, and the watcher thread that turns file changes into events.
//
//   auto connection = std::make_shared<Connection>(std::move(stack));
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

#include "LayerStore.h"
#include "ScopeStack.h"
#include "StoreWatcher.h"
#include "papi.h"

namespace vesk::legacy::store {

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    explicit Connection(std::unique_ptr<ScopeStack> stack);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const LayerStore& store() const { return mStore; }

    PAPIStatus addListener(const std::string& component, PAPIListener listener, void* userData,
                           std::uintptr_t& id);
    // Waits for a callback of this listener in progress on the watcher
    // thread, unless it is that callback which asks.
    PAPIStatus removeListener(std::uintptr_t id);

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
        std::vector<std::string> fingerprint;
    };
    struct Call {
        std::uintptr_t id;
        PAPIListener callback;
        void* userData;
        std::string component;
        int type;
    };

    PAPIStatus startWatcher();
    void run();
    void takeChanges(const StoreWatcher::Changes& changes);
    std::vector<Call> collectCalls();
    void dispatch(const std::vector<Call>& calls);
    bool onWatcherThread() const;

    std::unique_ptr<ScopeStack> mStack;
    LayerStore mStore;
    std::unique_ptr<StoreWatcher> mWatcher;
    int mWakeFd = -1;  // eventfd that wakes the watcher to stop

    std::mutex mMutex;
    std::condition_variable mChanged;
    std::map<std::uintptr_t, Listener> mListeners;
    std::map<std::string, ComponentState> mComponents;
    // Changes gathered since the last delivery.
    StoreWatcher::Changes mPending;
    bool mBatchOpen = false;
    std::chrono::steady_clock::time_point mFirstChange;
    std::chrono::steady_clock::time_point mLastChange;
    std::uintptr_t mCallbackListener = 0;  // listener whose callback runs now
    bool mStopping = false;
    bool mFinished = false;
    bool mShutdownClaimed = false;
    std::unique_ptr<std::thread> mThread;
    std::thread::id mThreadId;
    pid_t mThreadOwner = 0;  // the process the watcher runs in
};

}  // namespace vesk::legacy::store
