// SPDX-License-Identifier: LGPL-2.1-or-later
#include "RetryScheduler.h"

#include <exception>

#include "model/Exception.h"
#include "model/LogText.h"
#include "model/Logger.h"

namespace vesk::legacy::plugins {

namespace {

// Never a generation: the counter would have to wrap first.
constexpr std::uint64_t kAny = ~std::uint64_t{0};

}  // namespace

RetryScheduler::RetryScheduler()
    : RetryScheduler(std::chrono::seconds(2), std::chrono::minutes(5)) {}

RetryScheduler::RetryScheduler(std::chrono::milliseconds first, std::chrono::milliseconds longest)
    : mFirst(first), mLongest(longest), mDelay(first) {}

RetryScheduler::~RetryScheduler() {
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mStopping = true;
        mPending = nullptr;
    }
    mWake.notify_all();
    if (mThread.joinable()) {
        mThread.join();
    }
}

bool RetryScheduler::attempt(const Job& job) {
    try {
        return job();
    } catch (const std::exception& e) {
        Logger::error("A write failed and will be tried again: %s\n", logText(e.what()).c_str());
    }
    return false;
}

std::uint64_t RetryScheduler::generation() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mGeneration;
}

bool RetryScheduler::run(Job job) {
    return runUnlessReplaced(kAny, std::move(job));
}

bool RetryScheduler::runUnlessReplaced(std::uint64_t since, Job job) {
    std::lock_guard<std::mutex> running(mRunMutex);
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (since != kAny && since != mGeneration) {
            return true;
        }
        ++mGeneration;
        mPending = nullptr;
        // A new write waits the first delay, not what the one it replaces
        // had reached: startlist writes twice at start, and its first retry
        // must not wait twice as long.
        mDelay = mFirst;
    }
    const bool succeeded = attempt(job);
    std::lock_guard<std::mutex> lock(mMutex);
    if (!succeeded && !mStopping) {
        mPending = std::move(job);
    }
    settle(succeeded);
    return succeeded;
}

void RetryScheduler::settle(bool succeeded) {
    if (succeeded) {
        mDelay = mFirst;
        return;
    }
    if (!mPending) {
        return;
    }
    mDue = std::chrono::steady_clock::now() + mDelay;
    mDelay = std::min(mDelay * 2, mLongest);
    if (!mThread.joinable()) {
        mThread = std::thread(&RetryScheduler::loop, this);
    }
    mWake.notify_all();
}

void RetryScheduler::cancel() {
    std::lock_guard<std::mutex> lock(mMutex);
    ++mGeneration;
    mPending = nullptr;
}

bool RetryScheduler::isPending() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return static_cast<bool>(mPending);
}

void RetryScheduler::loop() {
    std::unique_lock<std::mutex> lock(mMutex);
    while (!mStopping) {
        if (!mPending) {
            mWake.wait(lock);
            continue;
        }
        if (std::chrono::steady_clock::now() < mDue) {
            mWake.wait_until(lock, mDue);
            continue;
        }
        const std::uint64_t generation = mGeneration;
        // mRunMutex comes first: a run on another thread may be in progress.
        lock.unlock();
        std::lock_guard<std::mutex> running(mRunMutex);
        lock.lock();
        if (mStopping || !mPending || generation != mGeneration) {
            continue;  // replaced or dropped meanwhile
        }
        const Job job = mPending;
        lock.unlock();
        const bool succeeded = attempt(job);
        lock.lock();
        if (generation != mGeneration) {
            continue;  // cancelled while it ran: nothing left to do
        }
        if (succeeded) {
            mPending = nullptr;
        }
        settle(succeeded);
    }
}

}  // namespace vesk::legacy::plugins
