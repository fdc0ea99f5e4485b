// The children of a structural node filed by name, in ascending byte order of
// the names. It only files pointers; the structural node owns the nodes.
//
// Most groups hold a handful of children, so up to kSmallLimit entries are a
// sorted array (one allocation, lookups in contiguous memory); a larger table
// becomes a balanced tree, so that a layer with a huge group cannot make
// filing quadratic.
//
//   ChildTable::Position at;
//   if (table.find(name, at) == nullptr) table.put(name, node, at);  // one search
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::legacy {

class Node;

class ChildTable {
  private:
    // Byte order, as std::string compares, for strings, views and literals
    // alike. Names are short and often share a prefix; an inline loop beats
    // a call to memcmp there.
    struct NameOrder {
        using is_transparent = void;
        bool operator()(std::string_view left, std::string_view right) const noexcept {
            const std::size_t common = left.size() < right.size() ? left.size() : right.size();
            for (std::size_t i = 0; i < common; ++i) {
                if (left[i] != right[i]) {
                    return static_cast<unsigned char>(left[i]) <
                           static_cast<unsigned char>(right[i]);
                }
            }
            return left.size() < right.size();
        }
    };
    struct Entry {
        std::string name;
        Node* node;
    };
    using Small = std::vector<Entry>;
    using Large = std::map<std::string, Node*, NameOrder>;

  public:
    // Above this many entries the table is a balanced tree.
    static constexpr std::size_t kSmallLimit = 32;

    // Where find met a name, or where that name would be filed. put checks that
    // it still fits the table and the name, and searches again if not.
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

    bool empty() const { return size() == 0; }
    std::size_t size() const { return mLarge ? mLarge->size() : mSmall.size(); }

    // The node filed under name, or null.
    Node* find(std::string_view name) const;
    Node* find(std::string_view name, Position& at);
    // Files node under name; an entry of that name now refers to node.
    void put(const std::string& name, Node* node);
    // The same at the place find gave for that name.
    void put(const std::string& name, Node* node, const Position& at);
    // Drops the entry of that name, if any.
    void erase(std::string_view name);
    // Drops every entry.
    void clear();

    // Calls visit(name, node) for every entry in ascending name order. The
    // table must not change meanwhile.
    template <typename Visit>
    void forEach(Visit&& visit) const {
        if (mLarge) {
            for (const auto& entry : *mLarge) {
                visit(entry.first, entry.second);
            }
        } else {
            for (const Entry& entry : mSmall) {
                visit(entry.name, entry.node);
            }
        }
    }

  private:
    static bool less(std::string_view left, std::string_view right) {
        return NameOrder()(left, right);
    }
    std::size_t lowerBound(std::string_view name) const;
    bool fits(const std::string& name, const Position& at) const;
    void growLarge();

    Small mSmall;
    std::unique_ptr<Large> mLarge;  // once set, holds every entry and mSmall stays empty
    // Counts changes of the filing, so that a Position from before one is not used.
    std::uint64_t mGeneration = 0;
};

}  // namespace vesk::legacy
