// SPDX-License-Identifier: LGPL-2.1-or-later
#include "model/NodeArena.h"

#include <new>

namespace vesk::legacy {

namespace {

// The arena of the innermost scope on this thread, or null.
thread_local NodeArena* tCurrent = nullptr;

constexpr std::size_t kFirstChunk = 16 * 1024;

// Under AddressSanitizer every node comes from the heap, so that a stale
// pointer to a destroyed node is still caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUseArenas = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUseArenas = false;
#else
constexpr bool kUseArenas = true;
#endif
#else
constexpr bool kUseArenas = true;
#endif

constexpr std::size_t roundUp(std::size_t bytes) {
    constexpr std::size_t align = alignof(std::max_align_t);
    return (bytes + align - 1) / align * align;
}

}  // namespace

void NodeArena::Release::operator()(NodeArena* arena) const noexcept {
    arena->drop();
}

NodeArena::Handle NodeArena::create() {
    return Handle(new NodeArena());
}

NodeArena::NodeArena() = default;

NodeArena::~NodeArena() = default;

void NodeArena::drop() noexcept {
    if (mReferences.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete this;
    }
}

NodeArena::Scope::Scope(const Handle& arena) noexcept : mPrevious(tCurrent) {
    tCurrent = kUseArenas ? arena.get() : nullptr;
}

NodeArena::Scope::~Scope() {
    tCurrent = mPrevious;
}

void* NodeArena::allocate(std::size_t size) {
    const std::size_t bytes = sizeof(Header) + roundUp(size);
    NodeArena* arena = tCurrent;
    Header* header =
        static_cast<Header*>(arena != nullptr ? arena->take(bytes) : ::operator new(bytes));
    header->arena = arena;
    return header + 1;
}

void NodeArena::release(void* node, std::size_t size) noexcept {
    if (node == nullptr) {
        return;
    }
    Header* header = static_cast<Header*>(node) - 1;
    NodeArena* arena = header->arena;
    if (arena == nullptr) {
        ::operator delete(header);
        return;
    }
    // Only the thread building with the arena touches its free list.
    if (arena == tCurrent) {
        arena->giveBack(header, sizeof(Header) + roundUp(size));
    }
    arena->drop();
}

void* NodeArena::take(std::size_t bytes) {
    for (std::size_t i = 0; i < kSizeClasses && mSizes[i] != 0; ++i) {
        if (mSizes[i] == bytes && mFree[i] != nullptr) {
            FreeBlock* block = mFree[i];
            mFree[i] = block->next;
            mReferences.fetch_add(1, std::memory_order_relaxed);
            return block;
        }
    }
    if (mLeft < bytes) {
        // Doubling chunks: a small layer wastes little, a large one needs few.
        const std::size_t doublings = mChunks.size() < 6 ? mChunks.size() : 6;
        std::size_t chunk = kFirstChunk << doublings;
        chunk = chunk < bytes ? bytes : chunk;
        mChunks.reserve(mChunks.size() + 1);
        mChunks.emplace_back(new char[chunk]);
        mNext = mChunks.back().get();
        mLeft = chunk;
    }
    void* block = mNext;
    mNext += bytes;
    mLeft -= bytes;
    mReferences.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void NodeArena::giveBack(Header* block, std::size_t bytes) noexcept {
    for (std::size_t i = 0; i < kSizeClasses; ++i) {
        if (mSizes[i] == 0) {
            mSizes[i] = bytes;
        }
        if (mSizes[i] == bytes) {
            FreeBlock* free = reinterpret_cast<FreeBlock*>(block);
            free->next = mFree[i];
            mFree[i] = free;
            return;
        }
    }
}

}  // namespace vesk::legacy
