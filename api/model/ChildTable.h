// SPDX-License-Identifier: LGPL-2.1-or-later
// The children of a structural node by name, in ascending byte order of the
// names. It files pointers to live nodes and reads the names from the nodes
// themselves; the structural node owns the nodes and unfiles one before it
// is destroyed.
//
// Most groups hold a handful of children, so up to kSmallLimit entries are a
// sorted array of pointers (one allocation, nothing copied per child); a larger
// table becomes a balanced tree, so that a layer with a huge group cannot make
// filing quadratic. Each array entry also keeps the first eight bytes of its
// name as a number of the same order, so that a search mostly compares numbers
// in one cache line instead of reading the names from the nodes.
//
//   ChildTable::Position at;
//   if (table.find(name, at) == nullptr) table.put(*node, at);  // one search
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "model/HollinExport.h"
#include "model/Node.h"

namespace vesk::legacy {

class HOLLIN_EXPORT ChildTable {
  public:
    // Byte order, as std::string compares: negative, zero or positive as left
    // sorts before, equal to or after right. Names are short and often share a
    // prefix; an inline loop beats a call to memcmp there.
    static int compare(std::string_view left, std::string_view right) noexcept {
        const std::size_t common = left.size() < right.size() ? left.size() : right.size();
        for (std::size_t i = 0; i < common; ++i) {
            if (left[i] != right[i]) {
                return static_cast<unsigned char>(left[i]) < static_cast<unsigned char>(right[i])
                           ? -1
                           : 1;
            }
        }
        return left.size() < right.size() ? -1 : left.size() > right.size() ? 1 : 0;
    }

  private:
    // The first eight bytes of name, zero-padded, most significant first: keys
    // of different value order names as compare does; equal keys say nothing.
    static std::uint64_t keyOf(std::string_view name) noexcept {
        std::uint64_t key = 0;
        if (name.size() >= 8) {
            std::memcpy(&key, name.data(), 8);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            key = __builtin_bswap64(key);
#endif
            return key;
        }
        for (std::size_t i = 0; i < 8; ++i) {
            key = (key << 8) | (i < name.size() ? static_cast<unsigned char>(name[i]) : 0U);
        }
        return key;
    }
    struct Entry {
        std::uint64_t key;
        Node* node;
        std::size_t size;  // of the name: with the key it tells a short name whole
    };
    // compare for an entry of the small array and a name whose key is given.
    static int compare(const Entry& entry, std::string_view name, std::uint64_t key) noexcept {
        if (entry.key != key) {
            return entry.key < key ? -1 : 1;
        }
        return compare(entry.node->getName(), name);
    }
    struct NameOrder {
        using is_transparent = void;
        bool operator()(std::string_view left, std::string_view right) const noexcept {
            return compare(left, right) < 0;
        }
    };
    using Small = std::vector<Entry>;
    // Keys are views of the filed nodes' own names.
    using Large = std::map<std::string_view, Node*, NameOrder>;

  public:
    // Above this many entries the table is a balanced tree.
    static constexpr std::size_t kSmallLimit = 32;
    // Up to this many entries find scans the keys.
    static constexpr std::size_t kScannedUpTo = 12;

    // Where find met a name, or where that name would be filed. put checks that
    // it still fits the table and the node's name, and searches again if not.
    class Position {
      private:
        friend class ChildTable;
        const ChildTable* mOwner = nullptr;
        std::uint64_t mGeneration = 0;
        std::size_t mIndex = 0;
        // Of the name searched: a name of up to eight bytes is told whole by them.
        std::uint64_t mKey = 0;
        std::size_t mSize = 0;
        Large::iterator mAt{};
        bool mFound = false;
    };

    ChildTable();
    ~ChildTable();
    ChildTable(const ChildTable&) = delete;
    ChildTable& operator=(const ChildTable&) = delete;

    std::size_t size() const {
        return mLarge ? mLarge->size() : mSmall.size();
    }

    // The node filed under name, or null. Inline: a path lookup is a row of these.
    Node* find(std::string_view name) const {
        if (mLarge) {
            return findLarge(name);
        }
        if (mSmall.empty()) {
            return nullptr;
        }
        // A path lookup is a chain of dependent loads. A small table is
        // scanned for the key: the branches predict well for the names a
        // program reads again and again, so the next node's load starts
        // before the compare is done. A larger table is halved without
        // branches on the data. A name of up to eight bytes is told whole by
        // key and size, without reading the node.
        const std::uint64_t key = keyOf(name);
        const Entry* entry = mSmall.data();
        const Entry* const end = entry + mSmall.size();
        if (mSmall.size() > kScannedUpTo) {
            for (std::size_t left = mSmall.size(); left > 1;) {
                const std::size_t half = left / 2;
                entry = entry[half].key < key ? entry + half : entry;
                left -= half;
            }
        }
        for (; entry != end && entry->key <= key; ++entry) {
            if (entry->key == key && entry->size == name.size() &&
                (name.size() <= 8 || compare(entry->node->getName(), name) == 0)) {
                return entry->node;
            }
        }
        return nullptr;
    }

    Node* find(std::string_view name, Position& at);
    // Files node under its name. Returns the node filed under that name
    // before, which the entry no longer refers to, or null.
    Node* put(Node& node);
    // The same at the place find gave for that name.
    Node* put(Node& node, const Position& at);
    // Drops the entry of that name; returns the node it referred to, or null.
    Node* erase(std::string_view name);
    // Drops the entry of node if the table holds it; an entry of the same
    // name for another node stays.
    void erase(const Node& node);
    // Drops every entry.
    void clear();

    // Calls visit(node) for every entry in ascending name order. The table
    // must not change meanwhile.
    template <typename Visit>
    void forEach(Visit&& visit) const {
        if (mLarge) {
            for (const auto& entry : *mLarge) {
                visit(entry.second);
            }
        } else {
            for (const Entry& entry : mSmall) {
                visit(entry.node);
            }
        }
    }

  private:
    static bool less(std::string_view left, std::string_view right) {
        return compare(left, right) < 0;
    }
    Node* findLarge(std::string_view name) const;
    std::size_t lowerBound(std::string_view name) const {
        return lowerBound(name, keyOf(name));
    }
    std::size_t lowerBound(std::string_view name, std::uint64_t key) const;
    bool fits(std::string_view name, const Position& at) const;
    void growLarge();

    Small mSmall;
    std::unique_ptr<Large> mLarge;  // once set, holds every entry and mSmall stays empty
    // Counts changes of the filing, so that a Position from before one is not used.
    std::uint64_t mGeneration = 0;
};

}  // namespace vesk::legacy
