// SPDX-License-Identifier: LGPL-2.1-or-later
#include "model/ChildTable.h"

namespace vesk::legacy {

ChildTable::ChildTable() = default;

ChildTable::~ChildTable() = default;

std::size_t ChildTable::lowerBound(std::string_view name, std::uint64_t key) const {
    std::size_t low = 0;
    std::size_t high = mSmall.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (compare(mSmall[middle], name, key) < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

Node* ChildTable::findLarge(std::string_view name) const {
    auto found = mLarge->find(name);
    return found == mLarge->end() ? nullptr : found->second;
}

Node* ChildTable::find(std::string_view name, Position& at) {
    at.mOwner = this;
    at.mGeneration = mGeneration;
    if (mLarge) {
        at.mAt = mLarge->lower_bound(name);
        at.mFound = at.mAt != mLarge->end() && at.mAt->first == name;
        return at.mFound ? at.mAt->second : nullptr;
    }
    at.mKey = keyOf(name);
    at.mSize = name.size();
    at.mIndex = lowerBound(name, at.mKey);
    at.mFound = at.mIndex < mSmall.size() && mSmall[at.mIndex].key == at.mKey &&
                mSmall[at.mIndex].size == name.size() &&
                (name.size() <= 8 || mSmall[at.mIndex].node->getName() == name);
    return at.mFound ? mSmall[at.mIndex].node : nullptr;
}

bool ChildTable::fits(std::string_view name, const Position& at) const {
    if (at.mOwner != this || at.mGeneration != mGeneration) {
        return false;
    }
    if (mLarge) {
        // A wrong hint for a new name only costs emplace_hint a search.
        return !at.mFound || at.mAt->first == name;
    }
    if (at.mIndex > mSmall.size()) {
        return false;
    }
    if (name.size() <= 8 && at.mSize == name.size() && at.mKey == keyOf(name)) {
        return true;  // the name find looked for, in the table as it was then
    }
    if (at.mFound) {
        return at.mIndex < mSmall.size() && mSmall[at.mIndex].node->getName() == name;
    }
    return (at.mIndex == 0 || less(mSmall[at.mIndex - 1].node->getName(), name)) &&
           (at.mIndex == mSmall.size() || less(name, mSmall[at.mIndex].node->getName()));
}

Node* ChildTable::put(Node& node) {
    Position at;
    find(node.getName(), at);
    return put(node, at);
}

Node* ChildTable::put(Node& node, const Position& at) {
    const std::string_view name = node.getName();
    if (!fits(name, at)) {
        return put(node);
    }
    Node* previous = nullptr;
    if (at.mFound && mLarge) {
        // The key views the previous node's name, which may not outlive it.
        previous = at.mAt->second;
        auto entry = mLarge->extract(at.mAt);
        entry.key() = name;
        entry.mapped() = &node;
        mLarge->insert(std::move(entry));
    } else if (at.mFound) {
        previous = mSmall[at.mIndex].node;
        mSmall[at.mIndex].node = &node;
    } else if (mLarge) {
        mLarge->emplace_hint(at.mAt, name, &node);
    } else if (mSmall.size() < kSmallLimit) {
        if (mSmall.capacity() == 0) {
            mSmall.reserve(8);
        }
        mSmall.insert(mSmall.begin() + static_cast<std::ptrdiff_t>(at.mIndex),
                      Entry{keyOf(name), &node, name.size()});
    } else {
        growLarge();
        mLarge->emplace(name, &node);
    }
    ++mGeneration;
    return previous == &node ? nullptr : previous;
}

void ChildTable::growLarge() {
    auto large = std::make_unique<Large>();
    for (const Entry& entry : mSmall) {
        large->emplace_hint(large->end(), entry.node->getName(), entry.node);
    }
    mLarge = std::move(large);
    Small().swap(mSmall);
}

Node* ChildTable::erase(std::string_view name) {
    Node* erased = nullptr;
    if (mLarge) {
        auto found = mLarge->find(name);
        if (found != mLarge->end()) {
            erased = found->second;
            mLarge->erase(found);
        }
    } else {
        const std::size_t index = lowerBound(name);
        if (index < mSmall.size() && mSmall[index].node->getName() == name) {
            erased = mSmall[index].node;
            mSmall.erase(mSmall.begin() + static_cast<std::ptrdiff_t>(index));
        }
    }
    if (erased != nullptr) {
        ++mGeneration;
    }
    return erased;
}

void ChildTable::erase(const Node& node) {
    if (find(node.getName()) == &node) {
        erase(node.getName());
    }
}

void ChildTable::clear() {
    mLarge.reset();
    Small().swap(mSmall);
    ++mGeneration;
}

}  // namespace vesk::legacy
