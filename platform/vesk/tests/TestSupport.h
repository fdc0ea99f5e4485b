// What the libvesk tests share: who the process is (user, groups, host), a
// read of a component as text, a forked child, and a recorder of events.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "papi.h"

namespace vesk::legacy::store::test {

using Clock = std::chrono::steady_clock;

std::string userName();
std::vector<std::string> groupNames();  // ascending
std::string hostName();

// Runs body in a forked child and gives its result, or -1 when the child did
// not exit normally (it is killed after ten seconds).
int runInChild(const std::function<int()>& body);

// Every layer of a read as "stamp=data", most general first.
std::vector<std::string> describe(PAPI* handle, const std::string& component, PAPIStatus& status);

// Collects the events of one listener.
struct Recorder {
    struct Seen {
        int type;
        std::string component;
        Clock::time_point at;
    };

    // Counts the call on entry, runs mThen, and records the event when done.
    static void record(const PAPIEvent* event, void* data);

    bool waitEntered(int count);
    bool waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    std::vector<Seen> seen();

    std::function<void(const PAPIEvent*)> mThen;  // runs inside the callback
    std::atomic<int> mEntered{0};
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<Seen> mSeen;
};

}  // namespace vesk::legacy::store::test
