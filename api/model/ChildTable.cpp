#include "model/ChildTable.h"

namespace vesk::legacy {

ChildTable::ChildTable() = default;

ChildTable::~ChildTable() = default;

std::size_t ChildTable::lowerBound(std::string_view name) const {
    std::size_t low = 0;
    std::size_t high = mSmall.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (less(mSmall[middle].name, name)) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

Node* ChildTable::find(std::string_view name) const {
    if (mLarge) {
        auto found = mLarge->find(name);
        return found == mLarge->end() ? nullptr : found->second;
    }
    const std::size_t index = lowerBound(name);
    return index < mSmall.size() && mSmall[index].name == name ? mSmall[index].node : nullptr;
}

Node* ChildTable::find(std::string_view name, Position& at) {
    at.mOwner = this;
    at.mGeneration = mGeneration;
    if (mLarge) {
        at.mAt = mLarge->lower_bound(name);
        at.mFound = at.mAt != mLarge->end() && at.mAt->first == name;
        return at.mFound ? at.mAt->second : nullptr;
    }
    at.mIndex = lowerBound(name);
    at.mFound = at.mIndex < mSmall.size() && mSmall[at.mIndex].name == name;
    return at.mFound ? mSmall[at.mIndex].node : nullptr;
}

bool ChildTable::fits(const std::string& name, const Position& at) const {
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
    if (at.mFound) {
        return at.mIndex < mSmall.size() && mSmall[at.mIndex].name == name;
    }
    return (at.mIndex == 0 || less(mSmall[at.mIndex - 1].name, name)) &&
           (at.mIndex == mSmall.size() || less(name, mSmall[at.mIndex].name));
}

void ChildTable::put(const std::string& name, Node* node) {
    Position at;
    find(name, at);
    put(name, node, at);
}

void ChildTable::put(const std::string& name, Node* node, const Position& at) {
    if (!fits(name, at)) {
        put(name, node);
        return;
    }
    if (at.mFound) {
        // The entry stays where it is; only the node it refers to changes.
        if (mLarge) {
            at.mAt->second = node;
        } else {
            mSmall[at.mIndex].node = node;
        }
        return;
    }
    if (mLarge) {
        mLarge->emplace_hint(at.mAt, name, node);
    } else if (mSmall.size() < kSmallLimit) {
        if (mSmall.empty()) {
            mSmall.reserve(4);
        }
        mSmall.insert(mSmall.begin() + static_cast<std::ptrdiff_t>(at.mIndex), Entry{name, node});
    } else {
        growLarge();
        mLarge->emplace(name, node);
    }
    ++mGeneration;
}

void ChildTable::growLarge() {
    // Copies, so that running out of memory here leaves the table as it was.
    auto large = std::make_unique<Large>();
    for (const Entry& entry : mSmall) {
        large->emplace_hint(large->end(), entry.name, entry.node);
    }
    mLarge = std::move(large);
    Small().swap(mSmall);
}

void ChildTable::erase(std::string_view name) {
    if (mLarge) {
        auto found = mLarge->find(name);
        if (found != mLarge->end()) {
            mLarge->erase(found);
            ++mGeneration;
        }
        return;
    }
    const std::size_t index = lowerBound(name);
    if (index < mSmall.size() && mSmall[index].name == name) {
        mSmall.erase(mSmall.begin() + static_cast<std::ptrdiff_t>(index));
        ++mGeneration;
    }
}

void ChildTable::clear() {
    mLarge.reset();
    Small().swap(mSmall);
    ++mGeneration;
}

}  // namespace vesk::legacy
