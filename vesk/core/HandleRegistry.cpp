// SPDX-License-Identifier: LGPL-2.1-or-later
#include "HandleRegistry.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <vector>

namespace vesk::legacy::store {

namespace {

// How long exit waits for watchers busy in a callback before leaving them.
const std::chrono::milliseconds kExitWait(1000);

std::once_flag sExitHandlerArmed;
// A forked child has no watcher threads: its exit must not wait for them.
pid_t sArmedBy = 0;

}  // namespace

HandleRegistry& HandleRegistry::instance() {
    static HandleRegistry* registry = new HandleRegistry();
    return *registry;
}

PAPI* HandleRegistry::add(std::shared_ptr<Connection> connection) {
    std::lock_guard<std::mutex> lock(mMutex);
    mNextToken += 0x10;
    mHandles[mNextToken] = std::move(connection);
    return reinterpret_cast<PAPI*>(mNextToken);
}

std::shared_ptr<Connection> HandleRegistry::find(const PAPI* handle) const {
    std::lock_guard<std::mutex> lock(mMutex);
    const auto found = mHandles.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == mHandles.end() ? nullptr : found->second;
}

std::shared_ptr<Connection> HandleRegistry::take(const PAPI* handle) {
    std::lock_guard<std::mutex> lock(mMutex);
    const auto found = mHandles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == mHandles.end()) {
        return nullptr;
    }
    std::shared_ptr<Connection> connection = std::move(found->second);
    mHandles.erase(found);
    return connection;
}

void HandleRegistry::armExitHandler() {
    // Registered after the statics of the libraries that use us, so it runs
    // before their destructors.
    std::call_once(sExitHandlerArmed, [] {
        sArmedBy = getpid();
        std::atexit(&HandleRegistry::stopAllAtExit);
    });
}

void HandleRegistry::stopAllAtExit() {
    if (getpid() != sArmedBy) {
        return;
    }
    std::vector<std::shared_ptr<Connection>> connections;
    {
        HandleRegistry& registry = instance();
        std::lock_guard<std::mutex> lock(registry.mMutex);
        for (const auto& entry : registry.mHandles) {
            connections.push_back(entry.second);
        }
    }
    for (const auto& connection : connections) {
        connection->requestStop();
    }
    const auto deadline = std::chrono::steady_clock::now() + kExitWait;
    for (const auto& connection : connections) {
        connection->finishBefore(deadline);
    }
}

}  // namespace vesk::legacy::store
