// The C entry points. None lets an exception out and none prints: every
// failure becomes the status of the call.

// Only these functions leave the library; everything else is hidden.
#pragma GCC visibility push(default)
#include "papi.h"
#pragma GCC visibility pop

#include <cstdlib>
#include <cstring>
#include <new>

#include "Connection.h"
#include "DirectoryLocation.h"
#include "DirectoryStore.h"
#include "HandleRegistry.h"
#include "LayerStore.h"
#include "ScopeStack.h"

using vesk::legacy::store::Backend;
using vesk::legacy::store::Connection;
using vesk::legacy::store::DirectoryLocation;
using vesk::legacy::store::DirectoryStore;
using vesk::legacy::store::HandleRegistry;
using vesk::legacy::store::LayerStore;
using vesk::legacy::store::ScopeStack;

namespace {

void setStatus(PAPIStatus* status, PAPIStatus value) {
    if (status != nullptr) {
        *status = value;
    }
}

// Runs body, whose result is a status, and maps what escapes it to one.
template <typename Body>
PAPIStatus guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PAPIOutOfMemoryFailure;
    } catch (...) {
        return PAPIUnknownFailure;
    }
}

// An ldap://, ldaps:// or ldapi:// URL names a directory; anything else is
// the path of a file store.
PAPIStatus openBackend(const char* connectionString, std::unique_ptr<Backend>& backend) {
    const std::string store = ScopeStack::configuredStore();
    if (DirectoryLocation::isDirectoryUrl(store)) {
        return DirectoryStore::open(connectionString, store, backend);
    }
    std::unique_ptr<ScopeStack> stack;
    const PAPIStatus opened = ScopeStack::forConnection(connectionString, stack);
    if (opened == PAPISuccess) {
        backend = std::make_unique<LayerStore>(std::move(stack));
    }
    return opened;
}

PAPI* openConnection(const char* connectionString, PAPIConnectionListener stateListener,
                     void* stateData, PAPIStatus* status) {
    PAPI* handle = nullptr;
    setStatus(status, guarded([&]() -> PAPIStatus {
                  std::unique_ptr<Backend> backend;
                  const PAPIStatus opened = openBackend(connectionString, backend);
                  if (opened != PAPISuccess) {
                      return opened;
                  }
                  handle = HandleRegistry::instance().add(
                      std::make_shared<Connection>(std::move(backend), stateListener, stateData));
                  return PAPISuccess;
              }));
    return handle;
}

char* copyText(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

}  // namespace

extern "C" {

PAPI* papiInitialise(const char* connectionString, PAPIStatus* status) {
    return openConnection(connectionString, nullptr, nullptr, status);
}

PAPI* papiInitialiseWithListener(const char* connectionString, PAPIConnectionListener listener,
                                 void* userData, PAPIStatus* status) {
    // The file store is always "connected" and never calls the state listener.
    return openConnection(connectionString, listener, userData, status);
}

void papiDeinitialise(PAPI* handle, PAPIStatus* status) {
    setStatus(status, guarded([&]() -> PAPIStatus {
                  const std::shared_ptr<Connection> connection =
                      HandleRegistry::instance().take(handle);
                  if (!connection) {
                      return PAPIInvalidArg;
                  }
                  connection->shutdown();
                  return PAPISuccess;
              }));
}

PAPILayerEntry* papiReadComponentLayers(PAPI* handle, const char* component, PAPIStatus* status) {
    PAPILayerEntry* head = nullptr;
    setStatus(
        status, guarded([&]() -> PAPIStatus {
            const std::shared_ptr<Connection> connection = HandleRegistry::instance().find(handle);
            if (!connection || component == nullptr) {
                return PAPIInvalidArg;
            }
            std::vector<Backend::Layer> layers;
            const PAPIStatus read = connection->backend().readLayers(component, layers);
            if (read != PAPISuccess) {
                return read;
            }
            // Built back to front, so each entry is linked as soon as it exists.
            for (auto layer = layers.rbegin(); layer != layers.rend(); ++layer) {
                auto* entry = static_cast<PAPILayerEntry*>(std::calloc(1, sizeof(PAPILayerEntry)));
                if (entry == nullptr) {
                    papiFreeLayerList(head);
                    head = nullptr;
                    return PAPIOutOfMemoryFailure;
                }
                entry->next = head;
                head = entry;
                // Exactly the file's bytes, with no terminating NUL; an
                // empty layer still gets a valid pointer.
                entry->data =
                    static_cast<char*>(std::malloc(layer->data.empty() ? 1 : layer->data.size()));
                entry->stamp = copyText(layer->stamp);
                if (entry->data == nullptr || entry->stamp == nullptr) {
                    papiFreeLayerList(head);
                    head = nullptr;
                    return PAPIOutOfMemoryFailure;
                }
                std::memcpy(entry->data, layer->data.data(), layer->data.size());
                entry->size = static_cast<int>(layer->data.size());
            }
            return PAPISuccess;
        }));
    return head;
}

PAPINameEntry* papiListComponentNames(PAPI* handle, const char* selector, PAPIStatus* status) {
    PAPINameEntry* head = nullptr;
    setStatus(
        status, guarded([&]() -> PAPIStatus {
            const std::shared_ptr<Connection> connection = HandleRegistry::instance().find(handle);
            if (!connection) {
                return PAPIInvalidArg;
            }
            std::vector<std::string> names;
            const PAPIStatus listed = connection->backend().listComponentNames(
                selector != nullptr ? selector : "", names);
            if (listed != PAPISuccess) {
                return listed;
            }
            for (auto name = names.rbegin(); name != names.rend(); ++name) {
                auto* entry = static_cast<PAPINameEntry*>(std::calloc(1, sizeof(PAPINameEntry)));
                if (entry == nullptr) {
                    papiFreeStringList(head);
                    head = nullptr;
                    return PAPIOutOfMemoryFailure;
                }
                entry->next = head;
                head = entry;
                entry->name = copyText(*name);
                if (entry->name == nullptr) {
                    papiFreeStringList(head);
                    head = nullptr;
                    return PAPIOutOfMemoryFailure;
                }
            }
            return PAPISuccess;
        }));
    return head;
}

void papiFreeLayerList(PAPILayerEntry* list) {
    while (list != nullptr) {
        PAPILayerEntry* next = list->next;
        std::free(list->data);
        std::free(list->stamp);
        std::free(list);
        list = next;
    }
}

void papiFreeStringList(PAPINameEntry* list) {
    while (list != nullptr) {
        PAPINameEntry* next = list->next;
        std::free(list->name);
        std::free(list);
        list = next;
    }
}

PAPIListenerId papiAddListener(PAPI* handle, const char* component, PAPIListener listener,
                               void* userData, PAPIStatus* status) {
    std::uintptr_t id = 0;
    setStatus(status, guarded([&]() -> PAPIStatus {
                  const std::shared_ptr<Connection> connection =
                      HandleRegistry::instance().find(handle);
                  if (!connection || component == nullptr) {
                      return PAPIInvalidArg;
                  }
                  HandleRegistry::instance().armExitHandler();
                  return connection->addListener(component, listener, userData, id);
              }));
    return reinterpret_cast<PAPIListenerId>(id);
}

void papiRemoveListener(PAPI* handle, PAPIListenerId listenerId, PAPIStatus* status) {
    setStatus(status, guarded([&]() -> PAPIStatus {
                  const std::shared_ptr<Connection> connection =
                      HandleRegistry::instance().find(handle);
                  if (!connection || listenerId == nullptr) {
                      return PAPIInvalidArg;
                  }
                  return connection->removeListener(reinterpret_cast<std::uintptr_t>(listenerId));
              }));
}

}  // extern "C"
