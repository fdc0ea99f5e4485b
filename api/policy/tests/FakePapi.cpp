#include "FakePapi.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

struct PAPI {
    int id;
};

namespace fakepapi {

namespace {

// A list handed out, keyed by its head. The records stay until reset, so that a
// second free is counted instead of reaching the allocator; the texts go at the
// first free, so that a read after it shows under ASan.
struct HandedList {
    std::string name;
    int frees = 0;
    std::unique_ptr<PAPILayerEntry[]> layers;
    std::unique_ptr<PAPINameEntry[]> names;
    std::vector<std::unique_ptr<char[]>> texts;

    char* copy(const std::string& text, bool terminate) {
        texts.push_back(std::make_unique<char[]>(text.size() + 1));
        std::memcpy(texts.back().get(), text.data(), text.size() + (terminate ? 1 : 0));
        return texts.back().get();
    }
};

std::mutex sMutex;
State sState;
Calls sCalls;
std::vector<std::unique_ptr<PAPI>> sHandles;
std::vector<std::string> sOpen;
std::map<const void*, HandedList> sLists;
std::map<PAPIListenerId, std::pair<std::string, Registration>> sRegistrations;
int sListeners = 0;

std::string text(const char* value) {
    return value ? value : "null";
}

std::string nameOf(const PAPI* handle) {
    return handle ? "H" + std::to_string(handle->id) : "null";
}

HandedList& newList(const void* head) {
    HandedList& list = sLists[head];
    list.name = "L" + std::to_string(sLists.size());
    return list;
}

void freeList(const char* function, const void* head) {
    std::lock_guard<std::mutex> lock(sMutex);
    auto it = head ? sLists.find(head) : sLists.end();
    sCalls.push_back(std::string(function) + "(" + (it != sLists.end() ? it->second.name : "null") +
                     ")");
    if (it != sLists.end() && ++it->second.frees == 1) {
        it->second.texts.clear();
    }
}

PAPI* open(const std::string& call, PAPIStatus* status) {
    std::lock_guard<std::mutex> lock(sMutex);
    *status = sState.initStatus;
    PAPI* handle = nullptr;
    if (sState.initStatus == PAPISuccess || sState.answerWithFailure) {
        sHandles.push_back(std::make_unique<PAPI>(PAPI{static_cast<int>(sHandles.size()) + 1}));
        handle = sHandles.back().get();
        sOpen.push_back(nameOf(handle));
    }
    sCalls.push_back(call + "=" + nameOf(handle));
    return handle;
}

// Whether a read or listing hands out a list: some records, and success unless
// the fake is told to answer with a list anyway.
bool handsOut(bool empty, PAPIStatus status) {
    return !empty && (status == PAPISuccess || sState.answerWithFailure);
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
    sListeners = 0;
}

Calls calls() {
    std::lock_guard<std::mutex> lock(sMutex);
    return sCalls;
}

std::vector<std::string> openHandles() {
    std::lock_guard<std::mutex> lock(sMutex);
    return sOpen;
}

std::vector<std::string> listsFreedOtherThanOnce() {
    std::lock_guard<std::mutex> lock(sMutex);
    std::vector<std::string> result;
    for (const auto& [head, list] : sLists) {
        if (list.frees != 1) {
            result.push_back(list.name + " freed " + std::to_string(list.frees) + " times");
        }
    }
    return result;
}

std::map<std::string, Registration> registrations() {
    std::lock_guard<std::mutex> lock(sMutex);
    std::map<std::string, Registration> result;
    for (const auto& [id, named] : sRegistrations) {
        result.insert(named);
    }
    return result;
}

int fire(const std::string& component, int type) {
    std::vector<Registration> targets;
    {
        std::lock_guard<std::mutex> lock(sMutex);
        for (const auto& [id, named] : sRegistrations) {
            if (named.second.component == component) {
                targets.push_back(named.second);
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
    *status = PAPIInvalidArg;
    for (auto it = sOpen.begin(); it != sOpen.end(); ++it) {
        if (*it == nameOf(handle)) {
            sOpen.erase(it);
            *status = PAPISuccess;
            break;
        }
    }
}

PAPILayerEntry* papiReadComponentLayers(PAPI* handle, const char* component, PAPIStatus* status) {
    std::lock_guard<std::mutex> lock(sMutex);
    *status = sState.readStatus;
    const std::string call = "papiReadComponentLayers(" + nameOf(handle) + "," + text(component);
    const std::vector<LayerRecord>& records = sState.layers[text(component)];
    if (!handsOut(records.empty(), *status)) {
        sCalls.push_back(call + ")=null");
        return nullptr;
    }
    auto entries = std::make_unique<PAPILayerEntry[]>(records.size());
    HandedList& list = newList(entries.get());
    for (std::size_t i = 0; i < records.size(); ++i) {
        const LayerRecord& record = records[i];
        // Exactly the record's bytes, no NUL: a read past size shows under ASan.
        entries[i].data = record.data ? list.copy(*record.data, false) : nullptr;
        entries[i].size =
            record.size != -1 ? record.size : static_cast<int>(record.data.value_or("").size());
        entries[i].stamp = record.stamp ? list.copy(*record.stamp, true) : nullptr;
        entries[i].next = i + 1 < records.size() ? &entries[i + 1] : nullptr;
    }
    list.layers = std::move(entries);
    sCalls.push_back(call + ")=" + list.name);
    return list.layers.get();
}

PAPINameEntry* papiListComponentNames(PAPI* handle, const char* selector, PAPIStatus* status) {
    std::lock_guard<std::mutex> lock(sMutex);
    *status = sState.listStatus;
    const std::string call = "papiListComponentNames(" + nameOf(handle) + "," + text(selector);
    if (!handsOut(sState.names.empty(), *status)) {
        sCalls.push_back(call + ")=null");
        return nullptr;
    }
    auto entries = std::make_unique<PAPINameEntry[]>(sState.names.size());
    HandedList& list = newList(entries.get());
    for (std::size_t i = 0; i < sState.names.size(); ++i) {
        entries[i].name = sState.names[i] ? list.copy(*sState.names[i], true) : nullptr;
        entries[i].next = i + 1 < sState.names.size() ? &entries[i + 1] : nullptr;
    }
    list.names = std::move(entries);
    sCalls.push_back(call + ")=" + list.name);
    return list.names.get();
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
    const std::string call = "papiAddListener(" + nameOf(handle) + "," + text(component) + ")=";
    if (*status != PAPISuccess) {
        sCalls.push_back(call + "null");
        return nullptr;
    }
    auto id = reinterpret_cast<PAPIListenerId>(static_cast<std::uintptr_t>(++sListeners));
    const std::string name = "R" + std::to_string(sListeners);
    sRegistrations[id] = {name, Registration{nameOf(handle), text(component), listener, userData}};
    sCalls.push_back(call + name);
    return id;
}

void papiRemoveListener(PAPI* handle, PAPIListenerId listenerId, PAPIStatus* status) {
    std::lock_guard<std::mutex> lock(sMutex);
    auto it = sRegistrations.find(listenerId);
    sCalls.push_back("papiRemoveListener(" + nameOf(handle) + "," +
                     (it != sRegistrations.end() ? it->second.first : text(nullptr)) + ")");
    *status = it == sRegistrations.end() ? PAPIInvalidArg : sState.removeStatus;
    if (*status == PAPISuccess) {
        sRegistrations.erase(it);
    }
}

}  // extern "C"
