// SPDX-License-Identifier: LGPL-2.1-or-later
#include "policy/PolicyAccess.h"

#include <exception>

#include "model/LogText.h"
#include "model/Logger.h"
#include "policy/PapiException.h"

namespace vesk::legacy {

namespace {

// Logs what a listener threw.
void logListenerFailure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Exception& e) {
        Logger::error("%s\n", logText(e.getMessage()).c_str());
    } catch (...) {
        Logger::error("A policy listener failed with an unexpected exception\n");
    }
}

}  // namespace

PolicyAccess::PolicyAccess() : PolicyAccess(std::string()) {}

PolicyAccess::PolicyAccess(const std::string& connectionString)
    : mConnection(getSharedPapi(connectionString)) {}

PolicyAccess::~PolicyAccess() {
    std::vector<std::pair<std::string, void*>> handles;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        for (const auto& [component, entry] : mListeners) {
            if (entry.mServiceHandle != nullptr) {
                handles.emplace_back(component, entry.mServiceHandle);
            }
        }
        handles.insert(handles.end(), mStrayHandles.begin(), mStrayHandles.end());
        // From here on an event finds nobody to call.
        mListeners.clear();
        mStrayHandles.clear();
    }
    for (const auto& [component, handle] : handles) {
        try {
            mConnection->removeListener(handle);
        } catch (const Exception& e) {
            Logger::error("Cannot stop watching policy component %s: %s\n",
                          logText(component).c_str(), logText(e.getMessage()).c_str());
        } catch (...) {
            Logger::error("Cannot stop watching policy component %s\n", logText(component).c_str());
        }
    }
    {
        std::unique_lock<std::mutex> lock(mMutex);
        waitForOtherDispatches(lock);
    }
    releaseSharedPapi(mConnection);
}

void PolicyAccess::getPolicyLayers(const NodePath& path, std::vector<PolicyLayer>& layers) const {
    std::vector<PapiLayer> read;
    mConnection->readComponentLayers(path.getComponent(), read);
    // All or nothing: a throw while appending takes the new ones out again.
    const std::size_t oldSize = layers.size();
    try {
        layers.reserve(oldSize + read.size());
        for (PapiLayer& layer : read) {
            layers.emplace_back(path, std::move(layer));
        }
    } catch (...) {
        layers.erase(layers.begin() + static_cast<std::ptrdiff_t>(oldSize), layers.end());
        throw;
    }
}

void PolicyAccess::addListener(const NodePath& path, IPolicyListener* listener) {
    if (listener == nullptr) {
        return;
    }
    const std::string& component = path.getComponent();
    {
        std::lock_guard<std::mutex> lock(mMutex);
        Listeners& entry = mListeners[component];
        if (entry.mServiceHandle != nullptr) {
            entry.mListenerSet.insert(listener);
            return;
        }
    }
    // Registered without the lock, so that the service's thread can deliver
    // meanwhile. Throws with the entry left empty, so the next call retries.
    void* handle = mConnection->addListener(component, componentChange, this);
    void* surplus = nullptr;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        Listeners& entry = mListeners[component];
        if (entry.mServiceHandle == nullptr) {
            entry.mServiceHandle = handle;
        } else {
            surplus = handle;  // another thread registered the component first
        }
        entry.mListenerSet.insert(listener);
    }
    if (surplus != nullptr) {
        try {
            mConnection->removeListener(surplus);
        } catch (...) {
            std::lock_guard<std::mutex> lock(mMutex);
            mStrayHandles.emplace_back(component, surplus);
        }
    }
}

void PolicyAccess::removeListener(const NodePath& path, IPolicyListener* listener) {
    const std::string& component = path.getComponent();
    void* handle = nullptr;
    {
        std::unique_lock<std::mutex> lock(mMutex);
        auto it = mListeners.find(component);
        if (it == mListeners.end()) {
            return;
        }
        it->second.mListenerSet.erase(listener);
        if (it->second.mListenerSet.empty()) {
            // A failed registration leaves no handle: only the entry goes.
            handle = it->second.mServiceHandle;
            mListeners.erase(it);
        }
        // A dispatch that took the listener before it was erased may still be
        // about to call it.
        waitForOtherDispatches(lock);
    }
    if (handle == nullptr) {
        return;
    }
    try {
        mConnection->removeListener(handle);
    } catch (...) {
        // Still registered: keep the handle for the next addListener or for the
        // destructor, so that no event outlives this object.
        std::lock_guard<std::mutex> lock(mMutex);
        Listeners& entry = mListeners[component];
        if (entry.mServiceHandle == nullptr) {
            entry.mServiceHandle = handle;
        } else {
            mStrayHandles.emplace_back(component, handle);
        }
        throw;
    }
}

bool PolicyAccess::isListening(const std::string& component, IPolicyListener* listener) const {
    std::lock_guard<std::mutex> lock(mMutex);
    auto it = mListeners.find(component);
    return it != mListeners.end() && it->second.mListenerSet.count(listener) != 0;
}

void PolicyAccess::waitForOtherDispatches(std::unique_lock<std::mutex>& lock) const {
    const std::thread::id self = std::this_thread::get_id();
    mDispatchEnded.wait(lock, [&] { return mDispatchers.size() == mDispatchers.count(self); });
}

void PolicyAccess::processEvent(const PAPIEvent& event) const {
    if (event.component == nullptr || event.type < PAPIEventComponentAdded ||
        event.type > PAPIEventComponentRemoved) {
        return;
    }
    const std::string component(event.component);
    const std::thread::id self = std::this_thread::get_id();
    std::vector<IPolicyListener*> snapshot;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        auto it = mListeners.find(component);
        if (it == mListeners.end() || it->second.mListenerSet.empty()) {
            return;
        }
        snapshot.assign(it->second.mListenerSet.begin(), it->second.mListenerSet.end());
        mDispatchers.insert(self);
    }
    struct DispatchEnd {
        const PolicyAccess* mAccess;
        std::thread::id mThread;
        ~DispatchEnd() {
            std::lock_guard<std::mutex> lock(mAccess->mMutex);
            mAccess->mDispatchers.erase(mAccess->mDispatchers.find(mThread));
            mAccess->mDispatchEnded.notify_all();
        }
    } dispatchEnd{this, self};

    std::exception_ptr firstFailure;
    for (IPolicyListener* listener : snapshot) {
        // An earlier listener may have removed this one.
        if (!isListening(component, listener)) {
            continue;
        }
        try {
            switch (event.type) {
                case PAPIEventComponentAdded:
                    listener->onComponentAdd(component);
                    break;
                case PAPIEventComponentModified:
                    listener->onComponentModify(component);
                    break;
                default:
                    listener->onComponentRemove(component);
                    break;
            }
        } catch (...) {
            if (firstFailure) {
                logListenerFailure(std::current_exception());
            } else {
                firstFailure = std::current_exception();
            }
        }
    }
    if (firstFailure) {
        std::rethrow_exception(firstFailure);
    }
}

void componentChange(const PAPIEvent* event, void* userData) {
    if (event == nullptr || userData == nullptr) {
        return;
    }
    // Called from the service's C code: nothing may leave.
    try {
        static_cast<const PolicyAccess*>(userData)->processEvent(*event);
    } catch (...) {
        logListenerFailure(std::current_exception());
    }
}

}  // namespace vesk::legacy
