// SPDX-License-Identifier: LGPL-2.1-or-later
// The C entry points. None lets an exception out and none prints: every
// failure becomes the status of the call.

// Only these functions leave the library; everything else is hidden.
#pragma GCC visibility push(default)
#include "papi.h"
#pragma GCC visibility pop

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "Connection.h"
#include "FailureDetail.h"
#include "FileStore.h"
#include "HandleRegistry.h"
#include "LdapLocation.h"
#include "LdapStore.h"
#include "ScopeStack.h"

using vesk::legacy::store::Backend;
using vesk::legacy::store::Connection;
using vesk::legacy::store::FailureDetail;
using vesk::legacy::store::FileStore;
using vesk::legacy::store::HandleRegistry;
using vesk::legacy::store::LdapLocation;
using vesk::legacy::store::LdapStore;
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
    FailureDetail::clear();
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return FailureDetail::fail(PAPIOutOfMemoryFailure, "out of memory");
    } catch (const std::exception& error) {
        return FailureDetail::fail(PAPIUnknownFailure, error.what());
    } catch (...) {
        return PAPIUnknownFailure;
    }
}

// The text of the last failure per handle, and of the last failed
// papiInitialise per thread. Never destroyed, like the handle registry.
struct FailureTexts {
    std::mutex mutex;
    std::map<const PAPI*, std::string> byHandle;
};

FailureTexts& failureTexts() {
    static FailureTexts* texts = new FailureTexts;
    return *texts;
}

thread_local std::string tInitialiseFailure;

// A failure always has a text, even where the backend noted none.
std::string failureText(PAPIStatus status) {
    if (!FailureDetail::current().empty()) {
        return FailureDetail::current();
    }
    switch (status) {
        case PAPIInvalidArg:
            return "invalid argument: a null or stale handle, listener or callback, or a name "
                   "that cannot be one path element";
        case PAPIOutOfMemoryFailure:
            return "out of memory";
        default:
            return "status " + std::to_string(status);
    }
}

// Keeps the text of a failed call on a known handle; returns the status.
PAPIStatus remember(const PAPI* handle, PAPIStatus status) noexcept {
    if (status == PAPISuccess || handle == nullptr) {
        return status;
    }
    try {
        std::string text = failureText(status);
        FailureTexts& texts = failureTexts();
        std::lock_guard<std::mutex> lock(texts.mutex);
        if (HandleRegistry::instance().find(handle)) {
            texts.byHandle[handle] = std::move(text);
        }
    } catch (...) {
        // Out of memory: the status still tells the failure.
    }
    return status;
}

// An ldap://, ldaps:// or ldapi:// URL names a directory; anything else is
// the path of a file store.
PAPIStatus openBackend(const char* connectionString, std::unique_ptr<Backend>& backend) {
    const std::string store = ScopeStack::configuredStore();
    if (LdapLocation::isDirectoryUrl(store)) {
        return LdapStore::open(connectionString, store, backend);
    }
    // "http://..." read as a folder would only ever be missing.
    const size_t scheme = store.find("://");
    if (scheme != std::string::npos && scheme > 0 &&
        store.find_first_not_of(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+.-") == scheme) {
        return FailureDetail::fail(
            PAPIConnectionFailure,
            store + ": not a URL libvesk reads (ldap://, ldaps://, ldapi://)");
    }
    std::unique_ptr<ScopeStack> stack;
    const PAPIStatus opened = ScopeStack::forConnection(connectionString, stack);
    if (opened == PAPISuccess) {
        backend = std::make_unique<FileStore>(std::move(stack));
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
                      tInitialiseFailure = failureText(opened);
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
                  FailureTexts& texts = failureTexts();
                  std::lock_guard<std::mutex> lock(texts.mutex);
                  texts.byHandle.erase(handle);
                  return PAPISuccess;
              }));
}

PAPILayerEntry* papiReadComponentLayers(PAPI* handle, const char* component, PAPIStatus* status) {
    PAPILayerEntry* head = nullptr;
    setStatus(
        status,
        remember(handle, guarded([&]() -> PAPIStatus {
                     const std::shared_ptr<Connection> connection =
                         HandleRegistry::instance().find(handle);
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
                         auto* entry =
                             static_cast<PAPILayerEntry*>(std::calloc(1, sizeof(PAPILayerEntry)));
                         if (entry == nullptr) {
                             papiFreeLayerList(head);
                             head = nullptr;
                             return PAPIOutOfMemoryFailure;
                         }
                         entry->next = head;
                         head = entry;
                         // Exactly the file's bytes, with no terminating NUL; an
                         // empty layer still gets a valid pointer.
                         entry->data = static_cast<char*>(
                             std::malloc(layer->data.empty() ? 1 : layer->data.size()));
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
                 })));
    return head;
}

void papiReadComponentLayersInto(PAPI* handle, const char* component, PAPILayerSink sink,
                                 void* userData, PAPIStatus* status) {
    setStatus(status,
              remember(handle, guarded([&]() -> PAPIStatus {
                           const std::shared_ptr<Connection> connection =
                               HandleRegistry::instance().find(handle);
                           if (!connection || component == nullptr || sink == nullptr) {
                               return PAPIInvalidArg;
                           }
                           std::vector<Backend::Layer> layers;
                           const PAPIStatus read =
                               connection->backend().readLayers(component, layers);
                           if (read != PAPISuccess) {
                               return read;
                           }
                           for (const Backend::Layer& layer : layers) {
                               if (sink(layer.data.data(), static_cast<int>(layer.data.size()),
                                        layer.stamp.c_str(), userData) != 0) {
                                   break;
                               }
                           }
                           return PAPISuccess;
                       })));
}

PAPINameEntry* papiListComponentNames(PAPI* handle, const char* selector, PAPIStatus* status) {
    PAPINameEntry* head = nullptr;
    setStatus(status, remember(handle, guarded([&]() -> PAPIStatus {
                                   const std::shared_ptr<Connection> connection =
                                       HandleRegistry::instance().find(handle);
                                   if (!connection) {
                                       return PAPIInvalidArg;
                                   }
                                   std::vector<std::string> names;
                                   const PAPIStatus listed =
                                       connection->backend().listComponentNames(
                                           selector != nullptr ? selector : "", names);
                                   if (listed != PAPISuccess) {
                                       return listed;
                                   }
                                   for (auto name = names.rbegin(); name != names.rend(); ++name) {
                                       auto* entry = static_cast<PAPINameEntry*>(
                                           std::calloc(1, sizeof(PAPINameEntry)));
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
                               })));
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
    setStatus(status, remember(handle, guarded([&]() -> PAPIStatus {
                                   const std::shared_ptr<Connection> connection =
                                       HandleRegistry::instance().find(handle);
                                   if (!connection || component == nullptr) {
                                       return PAPIInvalidArg;
                                   }
                                   HandleRegistry::instance().armExitHandler();
                                   return connection->addListener(component, listener, userData,
                                                                  id);
                               })));
    return reinterpret_cast<PAPIListenerId>(id);
}

void papiRemoveListener(PAPI* handle, PAPIListenerId listenerId, PAPIStatus* status) {
    setStatus(status, remember(handle, guarded([&]() -> PAPIStatus {
                                   const std::shared_ptr<Connection> connection =
                                       HandleRegistry::instance().find(handle);
                                   if (!connection || listenerId == nullptr) {
                                       return PAPIInvalidArg;
                                   }
                                   return connection->removeListener(
                                       reinterpret_cast<std::uintptr_t>(listenerId));
                               })));
}

int papiIsPolling(PAPI* handle, PAPIStatus* status) {
    bool polling = false;
    setStatus(status, guarded([&]() -> PAPIStatus {
                  const std::shared_ptr<Connection> connection =
                      HandleRegistry::instance().find(handle);
                  if (!connection) {
                      return PAPIInvalidArg;
                  }
                  polling = connection->polling();
                  return PAPISuccess;
              }));
    return polling ? 1 : 0;
}

int papiGetFailureDetail(PAPI* handle, char* buffer, int size, PAPIStatus* status) {
    int length = 0;
    setStatus(status, guarded([&]() -> PAPIStatus {
                  if (size < 0 || (size > 0 && buffer == nullptr)) {
                      return PAPIInvalidArg;
                  }
                  std::string text;
                  if (handle == nullptr) {
                      text = tInitialiseFailure;
                  } else {
                      if (!HandleRegistry::instance().find(handle)) {
                          return PAPIInvalidArg;
                      }
                      FailureTexts& texts = failureTexts();
                      std::lock_guard<std::mutex> lock(texts.mutex);
                      const auto found = texts.byHandle.find(handle);
                      if (found != texts.byHandle.end()) {
                          text = found->second;
                      }
                  }
                  if (size > 0) {
                      const size_t copied = std::min(text.size(), static_cast<size_t>(size) - 1);
                      std::memcpy(buffer, text.data(), copied);
                      buffer[copied] = '\0';
                  }
                  length = static_cast<int>(std::min<size_t>(text.size(), INT_MAX));
                  return PAPISuccess;
              }));
    return length;
}

}  // extern "C"
