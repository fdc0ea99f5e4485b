// SPDX-License-Identifier: LGPL-2.1-or-later
// Retries a plug-in's failed write by itself: after a failure the write runs
// again on a thread of the scheduler's own, first after 2 s, then after twice
// the previous delay up to 5 min, until it succeeds or a newer write replaces
// it. A success or a newer write sets the delay back to the first.
//
//   RetryScheduler retry;
//   retry.run([copy] { return install(*copy); });   // now, then again on failure
//
// One attempt runs at a time: run waits for a retry in progress. A job must
// therefore not wait for anything that may itself be calling run; in
// particular a job run from a policy listener must not read
// ConfigurationAccess (the facade holds its lock across listener calls), so
// it works on a copy taken before.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace vesk::legacy::plugins {

class RetryScheduler {
  public:
    // True when the write is done; an exception counts as a failure (logged).
    using Job = std::function<bool()>;

    RetryScheduler();
    // Other delays, for tests.
    RetryScheduler(std::chrono::milliseconds first, std::chrono::milliseconds longest);
    // Drops the pending retry and waits for one in progress.
    ~RetryScheduler();

    RetryScheduler(const RetryScheduler&) = delete;
    RetryScheduler& operator=(const RetryScheduler&) = delete;

    // Runs the job now, on the calling thread, in place of any pending one;
    // keeps it for retrying when it fails. Returns whether it succeeded.
    bool run(Job job);
    // Counts the calls of run and cancel so far.
    std::uint64_t generation() const;
    // As run, unless run or cancel was called after generation() returned
    // since: the newer write stands, and this returns true without running.
    // A write from a copy read on a thread other than the listener's runs
    // this way, so that it never overtakes the write of a newer change.
    bool runUnlessReplaced(std::uint64_t since, Job job);
    // Drops the pending retry; one in progress finishes.
    void cancel();
    // Whether a failed job waits for its next attempt.
    bool isPending() const;

  private:
    static bool attempt(const Job& job);
    // Caller holds mMutex.
    void settle(bool succeeded);
    void loop();

    const std::chrono::milliseconds mFirst;
    const std::chrono::milliseconds mLongest;
    // Held across each attempt, taken before mMutex.
    std::mutex mRunMutex;
    mutable std::mutex mMutex;
    std::condition_variable mWake;
    Job mPending;  // empty: nothing to retry
    // Counts replacements, so a retry can tell that its job went stale.
    std::uint64_t mGeneration = 0;
    std::chrono::milliseconds mDelay;
    std::chrono::steady_clock::time_point mDue;
    bool mStopping = false;
    std::thread mThread;  // started at the first failure
};

}  // namespace vesk::legacy::plugins
