// SPDX-License-Identifier: LGPL-2.1-or-later
// One open handle of the policy service (libvesk) and the four calls the system
// makes on it. Most code takes the process-wide connection for a connection
// string with getSharedPapi and gives it back with releaseSharedPapi.
//
//   PapiConnection* connection = getSharedPapi("");   // opened on first use
//   std::vector<PapiLayer> layers;
//   connection->readComponentLayers("org.example", layers);
//   releaseSharedPapi(connection);                      // closed at use count zero
//
// Every failing service call throws PapiException; lists the service hands out
// are freed exactly once, also when the call failed or copying threw.
#pragma once

#include <string>
#include <vector>

#include "model/HollinExport.h"
#include "papi.h"
#include "policy/PapiLayer.h"

namespace vesk::legacy {

class HOLLIN_EXPORT PapiConnection {
  public:
    using StateCallback = void (*)(PAPIConnectionState, void*);
    using EventCallback = void (*)(const PAPIEvent*, void*);

    // Opens the service; an empty string is passed as null (the current user).
    // With a state callback papiInitialiseWithListener is used. A handle the
    // service returns together with a failure status is closed before the throw.
    PapiConnection(const std::string& connectionString, StateCallback stateCallback,
                   void* userData);
    // Closes the handle; never throws.
    ~PapiConnection();

    // Copies would close the handle twice.
    PapiConnection(const PapiConnection&) = delete;
    PapiConnection& operator=(const PapiConnection&) = delete;

    // Appends the component's layers, most general first. On failure, including a
    // malformed record (negative size, null data with a positive size), throws and
    // leaves the vector as it was. A null stamp becomes "".
    void readComponentLayers(const std::string& component, std::vector<PapiLayer>& layers) const;
    // Appends the names of components that have layers and start with selector.
    // A null name in the list fails like a malformed layer record.
    void listComponentNames(const std::string& selector, std::vector<std::string>& names) const;

    // The returned handle is the only way to unregister. The callback runs on the
    // service's thread.
    void* addListener(const std::string& component, EventCallback callback, void* userData);
    // Whether the listeners learn of changes by a check on a timer (no
    // inotify watch could be set up) rather than as they happen.
    bool isPolling() const;
    // Waits for a callback of this handle in progress on another thread.
    void removeListener(void* listenerHandle);

    const std::string& getConnectionString() const { return mConnectionString; }
    // Diagnostics: holders of a shared connection; 0 for one made directly.
    int getUseCount() const;

  private:
    friend PapiConnection* getSharedPapi(const std::string& connectionString);
    friend void releaseSharedPapi(PapiConnection* connection);

    PAPI* mHandle;
    int mUseCount;  // guarded by the shared table's mutex
    std::string mConnectionString;
};

// The shared connection for the string, opened if no one holds it. Each call
// that returns must be matched by one releaseSharedPapi. Thread-safe. Throws
// PapiException when the service cannot be opened; the next call tries again.
HOLLIN_EXPORT PapiConnection* getSharedPapi(const std::string& connectionString);
// Gives back one use; the last one closes the connection. Null, and a
// connection that did not come from getSharedPapi, are ignored. Thread-safe.
HOLLIN_EXPORT void releaseSharedPapi(PapiConnection* connection);

}  // namespace vesk::legacy
