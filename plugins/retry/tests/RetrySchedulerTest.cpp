// SPDX-License-Identifier: LGPL-2.1-or-later
// The retry scheduler with short delays: a failed job comes back until it
// succeeds and then never again; a newer job or the scheduler's end drops it.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "RetryScheduler.h"
#include "TestFiles.h"

using vesk::legacy::plugins::RetryScheduler;
using namespace std::chrono_literals;

namespace {

using testsupport::waitUntil;

// Fails (or throws) the given number of times, then succeeds.
struct Flaky {
    int failures;
    bool throws = false;
    std::atomic<int> runs{0};
    RetryScheduler::Job job() {
        return [this] {
            if (++runs > failures) {
                return true;
            }
            if (throws) {
                throw std::runtime_error("disk full");
            }
            return false;
        };
    }
};

TEST(RetrySchedulerTest, RetriesUntilTheJobSucceedsThenNeverAgain) {
    for (bool throws : {false, true}) {
        RetryScheduler retry(1ms, 8ms);
        Flaky flaky{4, throws};
        EXPECT_FALSE(retry.run(flaky.job()));
        EXPECT_TRUE(retry.isPending());
        ASSERT_TRUE(waitUntil([&] { return !retry.isPending(); }));
        EXPECT_FALSE(waitUntil([&] { return flaky.runs > 5; }, 50ms));  // no run after success
        EXPECT_EQ(flaky.runs, 5) << throws;
        // A success on the first attempt schedules nothing.
        Flaky sound{0};
        EXPECT_TRUE(retry.run(sound.job()));
        EXPECT_FALSE(retry.isPending());
        EXPECT_EQ(sound.runs, 1);
    }
}

// A newer write starts from the first delay, not from the doubled delay of the
// write it replaced (startlist writes again right after a failed first write).
TEST(RetrySchedulerTest, ANewerJobIsRetriedAfterTheFirstDelay) {
    RetryScheduler retry(1s, 1min);
    Flaky first{1000}, newer{1};
    retry.run(first.job());
    const auto start = std::chrono::steady_clock::now();
    retry.run(newer.job());
    ASSERT_TRUE(waitUntil([&] { return newer.runs == 2; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1900ms);
}

TEST(RetrySchedulerTest, ANewerJobTheEndOrCancelDropsThePendingOne) {
    Flaky stale{1000}, newer{1};
    {
        RetryScheduler retry(1ms, 1ms);
        retry.run(stale.job());
        ASSERT_TRUE(waitUntil([&] { return stale.runs >= 3; }));
        retry.run(newer.job());
        const int staleRuns = stale.runs;
        ASSERT_TRUE(waitUntil([&] { return !retry.isPending(); }));
        EXPECT_EQ(newer.runs, 2);
        EXPECT_EQ(stale.runs, staleRuns);

        retry.run(stale.job());
        retry.cancel();
        EXPECT_FALSE(retry.isPending());
        retry.run(stale.job());  // pending when the scheduler ends
    }
    const int atEnd = stale.runs;
    EXPECT_FALSE(waitUntil([&] { return stale.runs != atEnd; }, 20ms));  // none after the end
}

}  // namespace
