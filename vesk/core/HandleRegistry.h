// SPDX-License-Identifier: LGPL-2.1-or-later
// The live handles of the process. A handle is a token, not an address: a
// stale, foreign or null handle is recognised without being dereferenced.
//
//   PAPI* handle = HandleRegistry::instance().add(connection);
//   std::shared_ptr<Connection> c = HandleRegistry::instance().find(handle);  // null if unknown
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "Connection.h"
#include "papi.h"

namespace vesk::legacy::store {

class HandleRegistry {
  public:
    // Never destroyed: callbacks that run while the process exits may still
    // use their handles.
    static HandleRegistry& instance();

    PAPI* add(std::shared_ptr<Connection> connection);
    std::shared_ptr<Connection> find(const PAPI* handle) const;
    // Removes the handle; the connection lives on while a call still uses it.
    std::shared_ptr<Connection> take(const PAPI* handle);

    // Once per process, before the first watcher starts: at exit, stop the
    // watchers before the statics their callbacks use are destroyed.
    void armExitHandler();

  private:
    HandleRegistry() = default;
    static void stopAllAtExit();

    mutable std::mutex mMutex;
    std::map<std::uintptr_t, std::shared_ptr<Connection>> mHandles;
    std::uintptr_t mNextToken = 0x5e5c0000;
};

}  // namespace vesk::legacy::store
