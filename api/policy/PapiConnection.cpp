// SPDX-License-Identifier: LGPL-2.1-or-later
#include "policy/PapiConnection.h"

#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "policy/PapiException.h"

namespace vesk::legacy {

namespace {

// One connection per connection string; a null value is a string whose opening
// failed (the next getSharedPapi tries again). Two facades on different threads
// share the table, so every access, use counts included, holds the mutex.
// Never destroyed: facades held in statics (the default facade) release into
// it during exit, in an order no static of this file can be sure to outlive.
std::mutex sSharedPapisMutex;

std::map<std::string, PapiConnection*>& sharedPapis() {
    static auto* sSharedPapis = new std::map<std::string, PapiConnection*>();
    return *sSharedPapis;
}

// A list handed out by the service, given back exactly once when the guard goes.
// After a successful call even a null head is given back, as the service
// expects; a null head that came with a failure is not.
template <typename Entry, void (*Free)(Entry*)>
class ServiceList {
  public:
    ServiceList(Entry* head, PAPIStatus status)
        : mHead(head), mFree(head != nullptr || status == PAPISuccess) {}
    ~ServiceList() {
        if (mFree) {
            Free(mHead);
        }
    }
    ServiceList(const ServiceList&) = delete;
    ServiceList& operator=(const ServiceList&) = delete;

    const Entry* get() const { return mHead; }

  private:
    Entry* mHead;
    bool mFree;
};
using NameList = ServiceList<PAPINameEntry, papiFreeStringList>;

// Collects the layers the service hands over, each copied once from the
// service's buffer. A throw stops the delivery; it is rethrown once the
// service has returned, as no exception may cross it.
struct LayerSink {
    std::vector<PapiLayer> read;
    std::exception_ptr failure;

    static int take(const char* data, int size, const char* stamp, void* userData) noexcept {
        auto* sink = static_cast<LayerSink*>(userData);
        try {
            if (size < 0 || (data == nullptr && size > 0)) {
                checkPapiStatus(PAPILdbFailure);
            }
            sink->read.emplace_back(data, size, stamp != nullptr ? stamp : "");
            return 0;
        } catch (...) {
            sink->failure = std::current_exception();
            return 1;
        }
    }
};

// Appends items to target, all or nothing: a throw while appending removes what
// was appended and rethrows.
template <typename T>
void appendAll(std::vector<T>& items, std::vector<T>& target) {
    const std::size_t oldSize = target.size();
    try {
        target.reserve(oldSize + items.size());
        for (T& item : items) {
            target.push_back(std::move(item));
        }
    } catch (...) {
        target.erase(target.begin() + static_cast<std::ptrdiff_t>(oldSize), target.end());
        throw;
    }
}

}  // namespace

PapiConnection::PapiConnection(const std::string& connectionString, StateCallback stateCallback,
                               void* userData)
    : mHandle(nullptr), mUseCount(0), mConnectionString(connectionString) {
    const char* text = mConnectionString.empty() ? nullptr : mConnectionString.c_str();
    PAPIStatus status = PAPISuccess;
    PAPI* handle = stateCallback != nullptr
                       ? papiInitialiseWithListener(text, stateCallback, userData, &status)
                       : papiInitialise(text, &status);
    if (status != PAPISuccess && handle != nullptr) {
        // No object will exist to close it later.
        PAPIStatus ignored = PAPISuccess;
        papiDeinitialise(handle, &ignored);
        handle = nullptr;
    }
    mHandle = handle;
    checkPapiStatus(status, nullptr);
}

PapiConnection::~PapiConnection() {
    if (mHandle != nullptr) {
        PAPIStatus ignored = PAPISuccess;
        papiDeinitialise(mHandle, &ignored);
    }
}

void PapiConnection::readComponentLayers(const std::string& component,
                                         std::vector<PapiLayer>& layers) const {
    PAPIStatus status = PAPISuccess;
    LayerSink sink;
    // Handed over without a list: a list would be one more copy of every text.
    papiReadComponentLayersInto(mHandle, component.c_str(), &LayerSink::take, &sink, &status);
    checkPapiStatus(status, mHandle);
    if (sink.failure) {
        std::rethrow_exception(sink.failure);
    }
    appendAll(sink.read, layers);
}

void PapiConnection::listComponentNames(const std::string& selector,
                                        std::vector<std::string>& names) const {
    PAPIStatus status = PAPISuccess;
    PAPINameEntry* head = papiListComponentNames(mHandle, selector.c_str(), &status);
    NameList list(head, status);
    checkPapiStatus(status, mHandle);
    std::vector<std::string> read;
    for (const PAPINameEntry* entry = list.get(); entry != nullptr; entry = entry->next) {
        if (entry->name == nullptr) {
            checkPapiStatus(PAPILdbFailure);
        }
        read.emplace_back(entry->name);
    }
    appendAll(read, names);
}

void* PapiConnection::addListener(const std::string& component, EventCallback callback,
                                  void* userData) {
    PAPIStatus status = PAPISuccess;
    PAPIListenerId id = papiAddListener(mHandle, component.c_str(), callback, userData, &status);
    checkPapiStatus(status, mHandle);
    return id;
}

bool PapiConnection::isPolling() const {
    PAPIStatus status = PAPISuccess;
    const int polling = papiIsPolling(mHandle, &status);
    return status == PAPISuccess && polling != 0;
}

void PapiConnection::removeListener(void* listenerHandle) {
    PAPIStatus status = PAPISuccess;
    papiRemoveListener(mHandle, listenerHandle, &status);
    checkPapiStatus(status);
}

int PapiConnection::getUseCount() const {
    std::lock_guard<std::mutex> lock(sSharedPapisMutex);
    return mUseCount;
}

PapiConnection* getSharedPapi(const std::string& connectionString) {
    std::lock_guard<std::mutex> lock(sSharedPapisMutex);
    PapiConnection*& entry = sharedPapis().emplace(connectionString, nullptr).first->second;
    if (entry == nullptr) {
        // Opening never calls back into us, so it may run under the lock.
        entry = new PapiConnection(connectionString, nullptr, nullptr);
    }
    ++entry->mUseCount;
    return entry;
}

void releaseSharedPapi(PapiConnection* connection) {
    if (connection == nullptr) {
        return;
    }
    std::unique_ptr<PapiConnection> closing;
    {
        std::lock_guard<std::mutex> lock(sSharedPapisMutex);
        auto& table = sharedPapis();
        auto it = table.find(connection->mConnectionString);
        if (it == table.end() || it->second != connection) {
            return;
        }
        if (--connection->mUseCount > 0) {
            return;
        }
        table.erase(it);
        closing.reset(connection);
    }
    // Closed outside the lock: closing joins the service's thread, whose
    // callbacks may themselves open or release connections.
}

}  // namespace vesk::legacy
