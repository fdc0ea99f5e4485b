// The children of a structural node by name, in ascending byte order of the
// names. It files pointers to live nodes and reads the names from the nodes
// themselves; the structural node owns the nodes and unfiles one before it
// is destroyed.
//
// Most groups hold a handful of children, so up to kSmallLimit entries are a
// sorted array of pointers (one allocation, nothing copied per child); a larger
// table becomes a balanced tree, so that a layer with a huge group cannot make
// filing quadratic.
//
//   ChildTable::Position at;
//   if (table.find(name, at) == nullptr) table.put(*node, at);  // one search
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "model/HollinExport.h"
#include "model/Node.h"

namespace vesk::legacy {

class HOLLIN_EXPORT ChildTable {
  private:
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
    struct NameOrder {
        using is_transparent = void;
        bool operator()(std::string_view left, std::string_view right) const noexcept {
            return compare(left, right) < 0;
        }
    };
    using Small = std::vector<Node*>;
    // Keys are views of the filed nodes' own names.
    using Large = std::map<std::string_view, Node*, NameOrder>;

  public:
    // Above this many entries the table is a balanced tree.
    static constexpr std::size_t kSmallLimit = 32;

    // Where find met a name, or where that name would be filed. put checks that
    // it still fits the table and the node's name, and searches again if not.
    class Position {
      private:
        friend class ChildTable;
        const ChildTable* mOwner = nullptr;
        std::uint64_t mGeneration = 0;
        std::size_t mIndex = 0;
        Large::iterator mAt{};
        bool mFound = false;
    };

    ChildTable();
    ~ChildTable();
    ChildTable(const ChildTable&) = delete;
    ChildTable& operator=(const ChildTable&) = delete;

    std::size_t size() const { return mLarge ? mLarge->size() : mSmall.size(); }

    // The node filed under name, or null. Inline: a path lookup is a row of these.
    Node* find(std::string_view name) const {
        if (mLarge) {
            return findLarge(name);
        }
        std::size_t low = 0;
        std::size_t high = mSmall.size();
        while (low < high) {
            const std::size_t middle = low + (high - low) / 2;
            const int order = compare(mSmall[middle]->getName(), name);
            if (order == 0) {
                return mSmall[middle];
            }
            if (order < 0) {
                low = middle + 1;
            } else {
                high = middle;
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
            for (Node* node : mSmall) {
                visit(node);
            }
        }
    }

  private:
    static bool less(std::string_view left, std::string_view right) {
        return compare(left, right) < 0;
    }
    Node* findLarge(std::string_view name) const;
    std::size_t lowerBound(std::string_view name) const;
    bool fits(std::string_view name, const Position& at) const;
    void growLarge();

    Small mSmall;
    std::unique_ptr<Large> mLarge;  // once set, holds every entry and mSmall stays empty
    // Counts changes of the filing, so that a Position from before one is not used.
    std::uint64_t mGeneration = 0;
};

}  // namespace vesk::legacy
