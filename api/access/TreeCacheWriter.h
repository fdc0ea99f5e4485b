// SPDX-License-Identifier: LGPL-2.1-or-later
// Writes the copies TreeCaches keep on a thread of its own, so that a change
// reaches the listeners without waiting for the disk. One writer serves every
// facade of the process.
//
//   std::shared_ptr<TreeCacheWriter> writer = TreeCacheWriter::shared();
//   writer->post(cache, "org.example", tree, stamps, digest);  // returns at once
//   writer->drain();                                           // all posted copies written
//
// Copies of one file are written in the order they were posted; one still
// waiting when a newer one is posted is dropped, so a newer copy is never
// overwritten by an older one. A copy that could not be written (a full disk)
// is tried again, after 2 s doubling up to 5 min, until a newer one replaces it. The last
// owner's release writes what waits and tries the failed ones once more.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "access/TreeCache.h"

namespace vesk::legacy {

class Tree;

class TreeCacheWriter {
  public:
    // The process's writer, made when no one holds it.
    static std::shared_ptr<TreeCacheWriter> shared();

    TreeCacheWriter() = default;
    ~TreeCacheWriter();

    TreeCacheWriter(const TreeCacheWriter&) = delete;
    TreeCacheWriter& operator=(const TreeCacheWriter&) = delete;

    // Hands the copy of a complete build to the thread, started on first use.
    void post(const TreeCache& cache, const std::string& component,
              std::shared_ptr<const Tree> tree, std::vector<std::string> stamps,
              std::uint64_t digest);
    // Returns once every copy posted before the call is written (or failed,
    // which is logged).
    void drain();

  private:
    struct Copy {
        TreeCache cache;
        std::string component;
        std::shared_ptr<const Tree> tree;
        std::vector<std::string> stamps;
        std::uint64_t digest = 0;
    };

    static constexpr std::chrono::seconds kFirstRetryPause{2};
    static constexpr std::chrono::seconds kLongestRetryPause{300};

    void run();

    std::mutex mMutex;
    std::condition_variable mWork;
    std::condition_variable mIdle;
    // By the file the copy goes to.
    std::map<std::string, Copy> mPending;
    std::map<std::string, Copy> mRetry;                   // failed, to be tried again
    std::chrono::seconds mRetryPause = kFirstRetryPause;  // doubles while they fail
    bool mWriting = false;
    bool mStopping = false;
    std::thread mThread;
};

}  // namespace vesk::legacy
