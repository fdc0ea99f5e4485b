// SPDX-License-Identifier: LGPL-2.1-or-later
// Memory for the nodes a builder creates in bulk: large chunks handed out in
// order, with a free list for the nodes the builder destroys again. Saves an
// allocation per node and keeps a tree's nodes close together.
//
//   NodeArena::Handle arena = NodeArena::create();
//   {
//       NodeArena::Scope scope(arena);   // new nodes on this thread come from arena
//       root->adoptChild(*new StructuralNode("a"));
//   }
//
// Every node still knows where its memory came from, so a node may be destroyed
// anywhere, on any thread, at any time: the arena lives until its last node and
// its last handle are gone. Nodes created outside a scope come from the heap.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

#include "model/HollinExport.h"

namespace vesk::legacy {

class HOLLIN_EXPORT NodeArena {
  private:
    struct Release {
        void operator()(NodeArena* arena) const noexcept;
    };

  public:
    using Handle = std::unique_ptr<NodeArena, Release>;

    static Handle create();

    // Installs an arena for the calling thread's new nodes; the previous one
    // comes back when the scope ends.
    class Scope {
      public:
        explicit Scope(const Handle& arena) noexcept;
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        NodeArena* mPrevious;
    };

    // For Node's operator new and delete.
    static void* allocate(std::size_t size);
    static void release(void* node, std::size_t size) noexcept;

    NodeArena(const NodeArena&) = delete;
    NodeArena& operator=(const NodeArena&) = delete;

  private:
    // Put before every node; a null arena means the heap.
    struct alignas(std::max_align_t) Header {
        NodeArena* arena;
    };
    struct FreeBlock {
        FreeBlock* next;
    };
    // Nodes come in a few sizes (one per node class); blocks of other sizes
    // are not reused.
    static constexpr std::size_t kSizeClasses = 4;

    NodeArena();
    ~NodeArena();
    void* take(std::size_t bytes);
    void giveBack(Header* block, std::size_t bytes) noexcept;
    void drop() noexcept;

    // Live nodes plus one per handle; the arena is freed at zero.
    std::atomic<std::size_t> mReferences{1};
    std::vector<std::unique_ptr<char[]>> mChunks;
    char* mNext = nullptr;
    std::size_t mLeft = 0;
    std::size_t mSizes[kSizeClasses] = {};
    FreeBlock* mFree[kSizeClasses] = {};
};

}  // namespace vesk::legacy
