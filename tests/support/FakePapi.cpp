// SPDX-License-Identifier: LGPL-2.1-or-later
#include "FakePapi.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace fakepapi {

namespace {

// A list handed out. The records stay until reset, so that a second free is
// counted instead of reaching the allocator; the texts go at the first free, so
// that a read after it shows under ASan.
struct HandedList {
    std::string name;
    int frees = 0;
    std::vector<PAPILayerEntry> layers;
    std::vector<PAPINameEntry> names;
    std::vector<std::unique_ptr<char[]>> texts;

    // Layer data gets exactly its bytes, no NUL: a read past them shows under ASan.
    char* copy(const std::optional<std::string>& text, bool terminate) {
        if (!text) {
            return nullptr;
        }
        const std::size_t size = text->size() + (terminate ? 1 : 0);
        texts.push_back(std::make_unique<char[]>(size));
        std::memcpy(texts.back().get(), text->c_str(), size);
        return texts.back().get();
    }
};

struct Registration {
    std::string name, component;
    PAPIListener callback;
    void* userData;
};

std::mutex sMutex;
State sState;
Calls sCalls;
int sHandles = 0, sListeners = 0;  // handed out so far; handles are these numbers
std::vector<PAPI*> sOpen;
std::vector<std::unique_ptr<HandedList>> sLists;
std::map<PAPIListenerId, Registration> sRegistrations;

std::string text(const char* value) {
    return value ? value : "null";
}

std::string nameOf(const PAPI* handle) {
    return handle ? "H" + std::to_string(reinterpret_cast<std::uintptr_t>(handle)) : "null";
}

PAPI* open(const std::string& call, PAPIStatus* status) {
    std::lock_guard<std::mutex> lock(sMutex);
    *status = sState.initStatus;
    PAPI* handle = nullptr;
    if (*status == PAPISuccess || sState.answerWithFailure) {
        handle = reinterpret_cast<PAPI*>(static_cast<std::uintptr_t>(++sHandles));
        sOpen.push_back(handle);
    }
    sCalls.push_back(call + "=" + nameOf(handle));
    return handle;
}

// A new list, or null when there is nothing to hand out: no entries, or a
// failure and the fake is not told to answer with a list anyway.
HandedList* handOut(const std::string& call, PAPIStatus status, std::size_t entries) {
    if (entries == 0 || (status != PAPISuccess && !sState.answerWithFailure)) {
        sCalls.push_back(call + ")=null");
        return nullptr;
    }
    sLists.push_back(std::make_unique<HandedList>());
    sLists.back()->name = "L" + std::to_string(sLists.size());
    sCalls.push_back(call + ")=" + sLists.back()->name);
    return sLists.back().get();
}

void freeList(const char* function, const void* head) {
    std::lock_guard<std::mutex> lock(sMutex);
    auto it = std::find_if(sLists.begin(), sLists.end(), [&](const auto& list) {
        return head && (head == list->layers.data() || head == list->names.data());
    });
    sCalls.push_back(std::string(function) + "(" + (it != sLists.end() ? (*it)->name : "null") +
                     ")");
    if (it != sLists.end() && ++(*it)->frees == 1) {
        (*it)->texts.clear();
    }
}

}  // namespace

State& state() {
    return sState;
}

void reset() {
    std::lock_guard<std::mutex> lock(sMutex);
    sState = State();
    sCalls.clear();
    sHandles = sListeners = 0;
    sOpen.clear();
    sLists.clear();
    sRegistrations.clear();
}

Calls calls() {
    std::lock_guard<std::mutex> lock(sMutex);
    return sCalls;
}

int openHandles() {
    std::lock_guard<std::mutex> lock(sMutex);
    return static_cast<int>(sOpen.size());
}

std::vector<std::string> registrations() {
    std::lock_guard<std::mutex> lock(sMutex);
    std::vector<std::string> names;
    for (const auto& [id, registration] : sRegistrations) {
        names.push_back(registration.name);
    }
    return names;
}

std::vector<std::string> listsFreedOtherThanOnce() {
    std::lock_guard<std::mutex> lock(sMutex);
    std::vector<std::string> result;
    for (const auto& list : sLists) {
        if (list->frees != 1) {
            result.push_back(list->name + " freed " + std::to_string(list->frees) + " times");
        }
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
    return open("papiInitialise(" + text(connectionString) + ")", status);
}

PAPI* papiInitialiseWithListener(const char* connectionString, PAPIConnectionListener listener,
                                 void* userData, PAPIStatus* status) {
    return open("papiInitialiseWithListener(" + text(connectionString) + "," +
                    (listener ? "listener" : "null") + "," + (userData ? "data" : "null") + ")",
                status);
}

void papiDeinitialise(PAPI* handle, PAPIStatus* status) {
    std::lock_guard<std::mutex> lock(sMutex);
    sCalls.push_back("papiDeinitialise(" + nameOf(handle) + ")");
    auto it = std::find(sOpen.begin(), sOpen.end(), handle);
    *status = it != sOpen.end() ? PAPISuccess : PAPIInvalidArg;
    sOpen.erase(std::remove(sOpen.begin(), sOpen.end(), handle), sOpen.end());
}

PAPILayerEntry* papiReadComponentLayers(PAPI* handle, const char* component, PAPIStatus* status) {
    std::lock_guard<std::mutex> lock(sMutex);
    *status = sState.readStatus;
    const std::vector<LayerRecord>& records = sState.layers[text(component)];
    HandedList* list = handOut("papiReadComponentLayers(" + nameOf(handle) + "," + text(component),
                               *status, records.size());
    if (!list) {
        return nullptr;
    }
    list->layers.resize(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        const LayerRecord& record = records[i];
        const int size = record.size != -1 ? record.size : int(record.data.value_or("").size());
        list->layers[i] = {list->copy(record.data, false), size, list->copy(record.stamp, true),
                           i + 1 < records.size() ? &list->layers[i + 1] : nullptr};
    }
    return list->layers.data();
}

// Served from the programmed list, so the record reads as that list's calls;
// malformed records reach the sink as they are.
void papiReadComponentLayersInto(PAPI* handle, const char* component, PAPILayerSink sink,
                                 void* userData, PAPIStatus* status) {
    PAPILayerEntry* list = papiReadComponentLayers(handle, component, status);
    for (PAPILayerEntry* entry = list; *status == PAPISuccess && entry != nullptr;
         entry = entry->next) {
        if (sink(entry->data, entry->size, entry->stamp, userData) != 0) {
            break;
        }
    }
    if (list != nullptr || *status == PAPISuccess) {
        papiFreeLayerList(list);
    }
}

PAPINameEntry* papiListComponentNames(PAPI* handle, const char* selector, PAPIStatus* status) {
    std::lock_guard<std::mutex> lock(sMutex);
    *status = sState.listStatus;
    const auto& names = sState.names;
    HandedList* list = handOut("papiListComponentNames(" + nameOf(handle) + "," + text(selector),
                               *status, names.size());
    if (!list) {
        return nullptr;
    }
    list->names.resize(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        list->names[i] = {list->copy(names[i], true),
                          i + 1 < names.size() ? &list->names[i + 1] : nullptr};
    }
    return list->names.data();
}

void papiFreeLayerList(PAPILayerEntry* list) {
    freeList("papiFreeLayerList", list);
}

void papiFreeStringList(PAPINameEntry* list) {
    freeList("papiFreeStringList", list);
}

PAPIListenerId papiAddListener(PAPI* handle, const char* component, PAPIListener listener,
                               void* userData, PAPIStatus* status) {
    // Outside the lock: the hook changes the answers as a test would.
    std::function<void()> before = std::exchange(sState.beforeAddListener, nullptr);
    if (before) {
        before();
    }
    std::lock_guard<std::mutex> lock(sMutex);
    *status = sState.addStatus;
    std::string name = "null";
    PAPIListenerId id = nullptr;
    if (*status == PAPISuccess) {
        id = reinterpret_cast<PAPIListenerId>(static_cast<std::uintptr_t>(++sListeners));
        name = "R" + std::to_string(sListeners);
        sRegistrations[id] = {name, text(component), listener, userData};
    }
    sCalls.push_back("papiAddListener(" + nameOf(handle) + "," + text(component) + ")=" + name);
    return id;
}

void papiRemoveListener(PAPI* handle, PAPIListenerId listenerId, PAPIStatus* status) {
    std::lock_guard<std::mutex> lock(sMutex);
    auto it = sRegistrations.find(listenerId);
    sCalls.push_back("papiRemoveListener(" + nameOf(handle) + "," +
                     (it != sRegistrations.end() ? it->second.name : "null") + ")");
    *status = it == sRegistrations.end() ? PAPIInvalidArg : sState.removeStatus;
    if (*status == PAPISuccess) {
        sRegistrations.erase(it);
    }
}

// Not recorded: asking why is no call that the code under test makes on the
// service, only a message it builds.
int papiGetFailureDetail(PAPI*, char* buffer, int size, PAPIStatus* status) {
    if (size > 0) {
        buffer[0] = '\0';
    }
    *status = PAPISuccess;
    return 0;
}

int papiIsPolling(PAPI*, PAPIStatus* status) {
    *status = PAPISuccess;
    return 0;
}

}  // extern "C"
