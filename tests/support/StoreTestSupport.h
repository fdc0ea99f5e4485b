// SPDX-License-Identifier: LGPL-2.1-or-later
// What the libvesk tests share: the store a test runs against, who the process
// is (user, groups, host), reads of a component as text, files, handles that
// must open and close, and a recorder of events.
#pragma once

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "papi.h"

namespace vesk::legacy::store::test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char kComponent[] = "com.orvek.ferrun.applications";
// Long enough for any event that is coming to have come (quiet 100 ms, cap 1 s).
const milliseconds kSettle(1500);

// The store a behaviour test runs against, named by VESK_POLICY_STORE from
// open() to close(): the file store in a temporary folder, or a base of its own
// in the private directory. Each test binary offers one (kBackend).
class TestPolicyStore {
  public:
    virtual ~TestPolicyStore() = default;

    virtual void open() = 0;
    virtual void close() = 0;
    // Scopes are written as the file store names them ("groups/adm"); what
    // they need around them is made on the way.
    virtual void writeLayer(const std::string& scope, const std::string& component,
                            const std::string& data) = 0;
    // The layer replaced as a whole: renamed into place, or modified in one go.
    virtual void replaceLayer(const std::string& scope, const std::string& component,
                              const std::string& data) {
        writeLayer(scope, component, data);
    }
    virtual void removeLayer(const std::string& scope, const std::string& component) = 0;
    // The modification time the backend keeps for the layer.
    virtual long long layerTime(const std::string& scope, const std::string& component) = 0;
};

using TestPolicyStoreFactory = std::unique_ptr<TestPolicyStore> (*)();
extern const TestPolicyStoreFactory kBackend;
extern const char kBackendName[];  // the suffix of the suite's test names

inline std::string userName() {
    const struct passwd* entry = getpwuid(getuid());
    return entry != nullptr ? entry->pw_name : "";
}

inline std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

using testsupport::readFile;

// Folders are made on the way.
inline void writeFile(const std::string& path, const std::string& data) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

// Every layer of a read as "stamp=data" (or only its data), most general first.
inline std::vector<std::string> describe(PAPI* handle, const std::string& component,
                                         PAPIStatus& status, bool stamped = true) {
    status = -1;
    PAPILayerEntry* layers = papiReadComponentLayers(handle, component.c_str(), &status);
    std::vector<std::string> described;
    for (const PAPILayerEntry* layer = layers; layer != nullptr; layer = layer->next) {
        // Exactly size bytes: the data carries no NUL to stop at.
        described.push_back((stamped ? std::string(layer->stamp) + "=" : "") +
                            (layer->data != nullptr
                                 ? std::string(layer->data, static_cast<size_t>(layer->size))
                                 : "(null)"));
    }
    papiFreeLayerList(layers);
    return described;
}

// describe through papiReadComponentLayersInto, whose sink asks for no more
// once it has limit layers.
inline std::vector<std::string> describeInto(PAPI* handle, const char* component,
                                             PAPIStatus& status, size_t limit = SIZE_MAX) {
    struct Taken {
        std::vector<std::string> layers;
        size_t limit;
    } taken{{}, limit};
    const PAPILayerSink sink = [](const char* data, int size, const char* stamp, void* userData) {
        auto* taken = static_cast<Taken*>(userData);
        taken->layers.push_back(std::string(stamp) + "=" +
                                std::string(data, static_cast<size_t>(size)));
        return taken->layers.size() >= taken->limit ? 1 : 0;
    };
    status = -1;
    papiReadComponentLayersInto(handle, component, sink, &taken, &status);
    return taken.layers;
}

inline std::vector<std::string> names(PAPI* handle, const char* selector, PAPIStatus& status) {
    status = -1;
    std::vector<std::string> names;
    PAPINameEntry* head = papiListComponentNames(handle, selector, &status);
    for (const PAPINameEntry* entry = head; entry != nullptr; entry = entry->next) {
        names.push_back(entry->name);
    }
    papiFreeStringList(head);
    return names;
}

// The text of papiGetFailureDetail, asked for with room to spare.
inline std::string failureDetail(PAPI* handle) {
    PAPIStatus status = -1;
    char buffer[4096] = "";
    papiGetFailureDetail(handle, buffer, sizeof buffer, &status);
    return status == PAPISuccess ? buffer : "status " + std::to_string(status);
}

// Collects the events of one listener.
struct Recorder {
    struct Seen {
        int type;
        std::string component;
        Clock::time_point at;
    };

    // Counts the call on entry, runs mThen, and records the event when done.
    static void record(const PAPIEvent* event, void* data) {
        auto* self = static_cast<Recorder*>(data);
        const Clock::time_point at = Clock::now();
        std::unique_lock<std::mutex> lock(self->mMutex);
        ++self->mEntered;
        self->mChanged.notify_all();
        lock.unlock();
        if (self->mThen) {
            self->mThen(event);
        }
        // Notified under the lock: the recorder may go as soon as a waiter sees it.
        lock.lock();
        self->mSeen.push_back(Seen{event->type, event->component, at});
        self->mChanged.notify_all();
    }

    bool waitEntered(size_t count) {
        return wait([&] { return mEntered >= count; }, milliseconds(5000));
    }
    bool waitFor(size_t count, milliseconds timeout = milliseconds(5000)) {
        return wait([&] { return mSeen.size() >= count; }, timeout);
    }
    std::vector<Seen> seen() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mSeen;
    }
    // Whether nothing beyond count events came within the window: a bounded
    // wait for an event that must not come.
    bool quietAfter(size_t count, milliseconds window = kSettle) {
        return !waitFor(count + 1, window);
    }
    // Waits until the events stop coming (a window without one); their count.
    size_t settle(milliseconds window = kSettle) {
        size_t count = seen().size();
        while (waitFor(count + 1, window)) {
            count = seen().size();
        }
        return count;
    }

    std::function<void(const PAPIEvent*)> mThen;  // runs inside the callback
    std::mutex mMutex;
    std::condition_variable mChanged;
    size_t mEntered = 0;
    std::vector<Seen> mSeen;

  private:
    bool wait(const std::function<bool()>& done, milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mMutex);
        return mChanged.wait_for(lock, timeout, done);
    }
};

// While it lives, permission bits bind this thread and the threads it starts
// (a handle's watcher), also when the tests run as root: a folder or layer
// made unreadable with chmod is unreadable to libvesk.
class PermissionsApply {
  public:
    PermissionsApply() { setOverride(false); }
    ~PermissionsApply() { setOverride(true); }
    PermissionsApply(const PermissionsApply&) = delete;
    PermissionsApply& operator=(const PermissionsApply&) = delete;

  private:
    static void setOverride(bool on) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        if (syscall(SYS_capget, &header, data) != 0) {
            return;
        }
        const unsigned bits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
        data[0].effective =
            on ? data[0].effective | (bits & data[0].permitted) : data[0].effective & ~bits;
        syscall(SYS_capset, &header, data);
    }
};

// Each expected to succeed.
inline PAPI* openHandle(const char* connection = "") {
    PAPIStatus status = -1;
    PAPI* handle = papiInitialise(connection, &status);
    EXPECT_EQ(status, PAPISuccess);
    return handle;
}

inline PAPIListenerId listen(PAPI* handle, Recorder& recorder, const char* component = kComponent) {
    PAPIStatus status = -1;
    PAPIListenerId id = papiAddListener(handle, component, Recorder::record, &recorder, &status);
    EXPECT_EQ(status, PAPISuccess);
    EXPECT_NE(id, nullptr);
    return id;
}

inline void closeHandle(PAPI* handle) {
    PAPIStatus status = -1;
    papiDeinitialise(handle, &status);
    EXPECT_EQ(status, PAPISuccess);
}

}  // namespace vesk::legacy::store::test
