// SPDX-License-Identifier: LGPL-2.1-or-later
#include "access/TreeCacheWriter.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "model/Exception.h"
#include "model/LogText.h"
#include "model/Logger.h"
#include "model/Tree.h"

namespace vesk::legacy {

std::shared_ptr<TreeCacheWriter> TreeCacheWriter::shared() {
    // Not owned here: the writer goes with the last facade, which drained it,
    // rather than at exit after what it logs to.
    static std::mutex creation;
    static std::weak_ptr<TreeCacheWriter> current;
    std::lock_guard<std::mutex> lock(creation);
    std::shared_ptr<TreeCacheWriter> writer = current.lock();
    if (!writer) {
        writer = std::make_shared<TreeCacheWriter>();
        current = writer;
    }
    return writer;
}

TreeCacheWriter::~TreeCacheWriter() {
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mStopping = true;
    }
    mWork.notify_all();
    if (mThread.joinable()) {
        mThread.join();  // after the waiting copies are written
    }
}

void TreeCacheWriter::post(const TreeCache& cache, const std::string& component,
                           std::shared_ptr<const Tree> tree, std::vector<std::string> stamps,
                           std::uint64_t digest) {
    if (cache.getFolder().empty()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mMutex);
        // Replaces a copy of that file still waiting: it is older.
        mPending.insert_or_assign(cache.fileOf(component), Copy{cache, component, std::move(tree),
                                                                std::move(stamps), digest});
        if (!mThread.joinable()) {
            mThread = std::thread(&TreeCacheWriter::run, this);
        }
    }
    mWork.notify_one();
}

void TreeCacheWriter::drain() {
    std::unique_lock<std::mutex> lock(mMutex);
    mIdle.wait(lock, [this] { return mPending.empty() && !mWriting; });
}

void TreeCacheWriter::run() {
    std::unique_lock<std::mutex> lock(mMutex);
    for (;;) {
        if (mRetry.empty()) {
            mWork.wait(lock, [this] { return mStopping || !mPending.empty(); });
        } else if (mPending.empty()) {
            // A copy that failed (a full disk) is tried again while the
            // process runs, and once more as the writer goes.
            mWork.wait_for(lock, mRetryPause, [this] { return mStopping || !mPending.empty(); });
            mRetryPause = std::min(mRetryPause * 2, kLongestRetryPause);
            for (auto& waiting : mRetry) {
                mPending.try_emplace(waiting.first, std::move(waiting.second));  // newer stays
            }
            mRetry.clear();
        }
        if (mPending.empty()) {
            return;  // stopping, and nothing left to write
        }
        // One thread writes, one copy at a time: a copy posted while this one
        // is written waits for it, so it lands last.
        auto next = mPending.begin();
        const std::string file = next->first;
        Copy copy = std::move(next->second);
        mPending.erase(next);
        mWriting = true;
        lock.unlock();
        bool written = true;
        try {
            written = copy.cache.store(copy.component, *copy.tree, copy.stamps, copy.digest);
        } catch (const std::exception& e) {
            Logger::error("Cannot keep a copy of the configuration of %s: %s\n",
                          logText(copy.component).c_str(), logText(e.what()).c_str());
        }
        lock.lock();
        if (!written && !mStopping && mPending.count(file) == 0) {
            mRetry.insert_or_assign(file, std::move(copy));
        } else if (written && mRetry.empty()) {
            mRetryPause = kFirstRetryPause;
        }
        lock.unlock();
        copy.tree.reset();  // a tree nobody else holds is freed outside the lock
        lock.lock();
        mWriting = false;
        if (mPending.empty()) {
            mIdle.notify_all();
        }
    }
}

}  // namespace vesk::legacy
