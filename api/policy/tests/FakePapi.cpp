#include "FakePapi.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

struct PAPI {
    int id;
};

namespace fakepapi {

namespace {

// A list handed out. Its records stay allocated until reset, so that a second
// free is recognised instead of reaching the allocator; the layer texts are freed
// on the first free, so a read after it shows under ASan.
struct HandedList {
    std::string name;
    std::vector<std::unique_ptr<PAPILayerEntry>> layers;
    std::vector<std::unique_ptr<PAPINameEntry>> names;
    std::vector<std::unique_ptr<char[]>> texts;
    int frees = 0;
};

std::mutex sMutex;
State sState;
Calls sCalls;
std::vector<std::unique_ptr<PAPI>> sHandles;  // every handle handed out
std::vector<std::string> sOpen;
std::vector<std::unique_ptr<HandedList>> sLists;
std::map<PAPIListenerId, Registration> sRegistrations;
std::map<PAPIListenerId, std::string> sListenerNames;
int sNextListener = 1;

std::string handleName(const PAPI* handle) {
    return handle ? "H" + std::to_string(handle->id) : "null";
}

std::string text(const char* value) {
    return value ? value : "null";
}

char* copyText(HandedList& list, const std::string& value, std::size_t size) {
    list.texts.push_back(std::make_unique<char[]>(size == 0 ? 1 : size));
    std::memcpy(list.texts.back().get(), value.data(), std::min(size, value.size()));
    return list.texts.back().get();
}

char* copyString(HandedList& list, const std::string& value) {
    char* copy = copyText(list, value, value.size() + 1);
    copy[value.size()] = '\0';
    return copy;
}

HandedList& newList() {
    sLists.push_back(std::make_unique<HandedList>());
    sLists.back()->name = "L" + std::to_string(sLists.size());
    return *sLists.back();
}

HandedList* findList(const void* head) {
    for (auto& list : sLists) {
        const void* first = !list->layers.empty()  ? static_cast<const void*>(list->layers[0].get())
                            : !list->names.empty() ? static_cast<const void*>(list->names[0].get())
                                                   : nullptr;
        if (first == head) {
            return list.get();
        }
    }
    return nullptr;
}

void freeList(const char* function, const void* head) {
    std::lock_guard<std::mutex> lock(sMutex);
    HandedList* list = head ? findList(head) : nullptr;
    sCalls.push_back(std::string(function) + "(" + (list ? list->name : text(nullptr)) + ")");
    if (list && ++list->frees == 1) {
        list->texts.clear();
    }
}

PAPI* open(const char* call, PAPIStatus* status) {
    std::lock_guard<std::mutex> lock(sMutex);
    *status = sState.initStatus;
    PAPI* handle = nullptr;
    if (sState.initStatus == PAPISuccess || sState.answerWithFailure) {
        sHandles.push_back(std::make_unique<PAPI>(PAPI{static_cast<int>(sHandles.size()) + 1}));
        handle = sHandles.back().get();
        sOpen.push_back(handleName(handle));
    }
    sCalls.push_back(std::string(call) + "=" + handleName(handle));
    return handle;
}

}  // namespace

State& state() {
    return sState;
}

void reset() {
    std::lock_guard<std::mutex> lock(sMutex);
    sState = State();
    sCalls.clear();
    sHandles.clear();
    sOpen.clear();
    sLists.clear();
    sRegistrations.clear();
    sListenerNames.clear();
    sNextListener = 1;
}

Calls calls() {
    std::lock_guard<std::mutex> lock(sMutex);
    return sCalls;
}

std::vector<std::string> openHandles() {
    std::lock_guard<std::mutex> lock(sMutex);
    return sOpen;
}

std::vector<std::string> unfreedLists() {
    std::lock_guard<std::mutex> lock(sMutex);
    std::vector<std::string> result;
    for (const auto& list : sLists) {
        if (list->frees == 0) {
            result.push_back(list->name);
        }
    }
    return result;
}

std::vector<std::string> listsFreedTwice() {
    std::lock_guard<std::mutex> lock(sMutex);
    std::vector<std::string> result;
    for (const auto& list : sLists) {
        if (list->frees > 1) {
            result.push_back(list->name);
        }
    }
    return result;
}

std::map<std::string, Registration> registrations() {
    std::lock_guard<std::mutex> lock(sMutex);
    std::map<std::string, Registration> result;
    for (const auto& [id, registration] : sRegistrations) {
        result.emplace(sListenerNames[id], registration);
    }
    return result;
}

int fire(const std::string& component, int type) {
    std::vector<Registration> targets;
    {
        std::lock_guard<std::mutex> lock(sMutex);
        for (const auto& [id, registration] : sRegistrations) {
            if (registration.component == component) {
                targets.push_back(registration);
            }
        }
    }
    const PAPIEvent event{type, component.c_str()};
    for (const Registration& target : targets) {
        target.callback(&event, target.userData);
    }
    return static_cast<int>(targets.size());
}

}  // namespace fakepapi

using namespace fakepapi;

extern "C" {

PAPI* papiInitialise(const char* connectionString, PAPIStatus* status) {
    return open(("papiInitialise(" + text(connectionString) + ")").c_str(), status);
}

PAPI* papiInitialiseWithListener(const char* connectionString, PAPIConnectionListener listener,
                                 void* userData, PAPIStatus* status) {
    const std::string call = "papiInitialiseWithListener(" + text(connectionString) + "," +
                             (listener ? "listener" : "null") + "," + (userData ? "data" : "null") +
                             ")";
    return open(call.c_str(), status);
}

void papiDeinitialise(PAPI* handle, PAPIStatus* status) {
    std::lock_guard<std::mutex> lock(sMutex);
    sCalls.push_back("papiDeinitialise(" + handleName(handle) + ")");
    *status = PAPIInvalidArg;
    for (auto it = sOpen.begin(); it != sOpen.end(); ++it) {
        if (*it == handleName(handle)) {
            sOpen.erase(it);
            *status = PAPISuccess;
            break;
        }
    }
}

PAPILayerEntry* papiReadComponentLayers(PAPI* handle, const char* component, PAPIStatus* status) {
    std::lock_guard<std::mutex> lock(sMutex);
    *status = sState.readStatus;
    std::string call =
        "papiReadComponentLayers(" + handleName(handle) + "," + text(component) + ")";
    auto it = sState.layers.find(text(component));
    if (it == sState.layers.end() || it->second.empty() ||
        (sState.readStatus != PAPISuccess && !sState.answerWithFailure)) {
        sCalls.push_back(call + "=null");
        return nullptr;
    }
    HandedList& list = newList();
    for (const LayerRecord& record : it->second) {
        auto entry = std::make_unique<PAPILayerEntry>();
        entry->size =
            record.size == -1 ? static_cast<int>(record.data.value_or("").size()) : record.size;
        entry->data = record.data ? copyText(list, *record.data, record.data->size()) : nullptr;
        entry->stamp = record.stamp ? copyString(list, *record.stamp) : nullptr;
        entry->next = nullptr;
        if (!list.layers.empty()) {
            list.layers.back()->next = entry.get();
        }
        list.layers.push_back(std::move(entry));
    }
    sCalls.push_back(call + "=" + list.name);
    return list.layers[0].get();
}

PAPINameEntry* papiListComponentNames(PAPI* handle, const char* selector, PAPIStatus* status) {
    std::lock_guard<std::mutex> lock(sMutex);
    *status = sState.listStatus;
    std::string call = "papiListComponentNames(" + handleName(handle) + "," + text(selector) + ")";
    if (!sState.names || sState.names->empty() ||
        (sState.listStatus != PAPISuccess && !sState.answerWithFailure)) {
        sCalls.push_back(call + "=null");
        return nullptr;
    }
    HandedList& list = newList();
    for (const auto& name : *sState.names) {
        auto entry = std::make_unique<PAPINameEntry>();
        entry->name = name ? copyString(list, *name) : nullptr;
        entry->next = nullptr;
        if (!list.names.empty()) {
            list.names.back()->next = entry.get();
        }
        list.names.push_back(std::move(entry));
    }
    sCalls.push_back(call + "=" + list.name);
    return list.names[0].get();
}

void papiFreeLayerList(PAPILayerEntry* list) {
    freeList("papiFreeLayerList", list);
}

void papiFreeStringList(PAPINameEntry* list) {
    freeList("papiFreeStringList", list);
}

PAPIListenerId papiAddListener(PAPI* handle, const char* component, PAPIListener listener,
                               void* userData, PAPIStatus* status) {
    std::lock_guard<std::mutex> lock(sMutex);
    *status = sState.addStatus;
    std::string call = "papiAddListener(" + handleName(handle) + "," + text(component) + ")";
    if (sState.addStatus != PAPISuccess) {
        sCalls.push_back(call + "=null");
        return nullptr;
    }
    PAPIListenerId id =
        reinterpret_cast<PAPIListenerId>(static_cast<std::uintptr_t>(sNextListener));
    const std::string name = "R" + std::to_string(sNextListener++);
    sListenerNames[id] = name;
    sRegistrations[id] = Registration{handleName(handle), text(component), listener, userData};
    sCalls.push_back(call + "=" + name);
    return id;
}

void papiRemoveListener(PAPI* handle, PAPIListenerId listenerId, PAPIStatus* status) {
    std::lock_guard<std::mutex> lock(sMutex);
    auto name = sListenerNames.find(listenerId);
    sCalls.push_back("papiRemoveListener(" + handleName(handle) + "," +
                     (name != sListenerNames.end() ? name->second
                      : listenerId                 ? "unknown"
                                                   : "null") +
                     ")");
    *status = sState.removeStatus;
    if (sState.removeStatus == PAPISuccess) {
        sRegistrations.erase(listenerId);
    }
}

}  // extern "C"
