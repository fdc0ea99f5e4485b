// SPDX-License-Identifier: LGPL-2.1-or-later
// A node listener for the facade tests: records "<kind> <path>=<value>" for
// each call, value being what the facade answers for one property during the
// call, runs an optional action, counts the ends of change events, notes for
// each end whether its outcome is what the facade serves, and lets a test wait
// for calls that arrive on the service's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "access/ConfigurationAccess.h"
#include "change/INodeListener.h"
#include "model/NodePath.h"

using namespace vesk::legacy;
using Lines = std::vector<std::string>;

class Recorder : public INodeListener {
  public:
    Recorder(ConfigurationAccess& access, const std::string& watched)
        : mAccess(access), mWatched(watched) {}
    std::function<void()> during = [] {};

    void onNodeAdded(const NodePath& path) override { record("added ", path); }
    void onNodeRemoved(const NodePath& path) override { record("removed ", path); }
    void onNodeChanged(const NodePath& path) override { record("changed ", path); }
    void onChangeComplete() override {
        std::lock_guard<std::mutex> lock(mMutex);
        ++mCompletes;
        mArrived.notify_all();
    }
    void onChangeCompleteWith(const ChangeOutcome& outcome) override {
        const std::string component = mWatched.substr(0, mWatched.find('/'));
        const bool served = outcome.tree == mAccess.snapshot(component) &&
                            outcome.complete == mAccess.isComplete(component);
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mOutcomes.push_back((outcome.complete ? "complete " : "partial ") +
                                std::string(served ? "served" : "not served"));
        }
        onChangeComplete();
    }

    // Takes the calls so far, once there are count of them (ten seconds at most).
    Lines take(std::size_t count = 0) {
        std::unique_lock<std::mutex> lock(mMutex);
        mArrived.wait_for(lock, std::chrono::seconds(10), [&] { return mCalls.size() >= count; });
        return std::exchange(mCalls, Lines());
    }

    // The ends of change events so far, once there are count of them (ten
    // seconds at most).
    std::size_t completes(std::size_t count) {
        std::unique_lock<std::mutex> lock(mMutex);
        mArrived.wait_for(lock, std::chrono::seconds(10), [&] { return mCompletes >= count; });
        return mCompletes;
    }

    // Per end of a change so far: "complete served" when it came with the
    // tree the facade serves, read in full.
    Lines outcomes() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mOutcomes;
    }

  private:
    void record(const std::string& kind, const NodePath& path) {
        const std::string& value = mAccess.getStringValue(mWatched);
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mCalls.push_back(kind + path.getComponent() + path.getPath() + "=" + value);
            mArrived.notify_all();
        }
        during();
    }

    ConfigurationAccess& mAccess;
    const std::string mWatched;
    std::mutex mMutex;
    std::condition_variable mArrived;
    Lines mCalls;
    Lines mOutcomes;
    std::size_t mCompletes = 0;
};
