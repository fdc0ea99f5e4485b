// Children of structural nodes, small and past the switch to the balanced
// tree: byte order, lookups, and who refers to a node once it is replaced,
// removed, moved or destroyed (the sanitizer build catches any stale pointer).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/ChildTable.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"

using namespace vesk::legacy;
using Names = std::vector<std::string>;

namespace {

// count (at least 4) names in a scrambled order: shared prefixes, an empty
// name, bytes >= 0x80.
Names scrambledNames(size_t count) {
    Names names{"", "\xc3\xa9", "B", "a"};
    for (size_t i = 0; names.size() < count; ++i) {
        names.push_back("item" + std::to_string(i));
    }
    names.resize(count);
    std::uint32_t state = 7;
    for (size_t i = names.size(); i > 1; --i) {
        state = state * 1103515245u + 12345u;
        std::swap(names[i - 1], names[(state >> 8) % i]);
    }
    return names;
}

Names childrenOf(const StructuralNode& node) {
    Names names;
    node.getChildren(names);
    return names;
}

const size_t kSizes[] = {4, ChildTable::kSmallLimit, ChildTable::kSmallLimit + 1, 200};

TEST(Children, KeptInByteOrderAndFoundAtEverySize) {
    for (size_t size : kSizes) {
        StructuralNode group("g");
        Names names = scrambledNames(size);
        for (const std::string& name : names) {
            group.adoptChild(*new PropertyNode(name, TypeString));
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(childrenOf(group), names) << size;
        for (const std::string& name : names) {
            ASSERT_NE(group.getChild(name), nullptr) << size << " " << name;
            EXPECT_EQ(group.getChild(name)->getName(), name);
            EXPECT_EQ(group.findChild(std::string_view(name)), group.getChild(name));
            EXPECT_EQ(group.getChild(name)->getParent(), &group);
        }
        EXPECT_EQ(group.getChild("item"), nullptr) << "a prefix is not a match";
        EXPECT_EQ(group.findChild(std::string_view("a\0", 2)), nullptr);

        // Every second child removed and destroyed by the caller; the rest stay in order.
        Names kept;
        for (size_t i = 0; i < names.size(); ++i) {
            if (i % 2 == 0) {
                Node* child = group.getChild(names[i]);
                group.removeChild(names[i]);
                delete child;
            } else {
                kept.push_back(names[i]);
            }
        }
        group.removeChild("never-there");
        EXPECT_EQ(childrenOf(group), kept) << size;
    }
}

TEST(Children, ReplacedDestroyedAndMovedChildrenAreNoLongerReferred) {
    for (size_t size : kSizes) {
        StructuralNode group("g");
        for (const std::string& name : scrambledNames(size)) {
            group.adoptChild(*new StructuralNode(name));
        }
        // Destroyed first, as the merger does: the new child takes the name.
        delete group.getChild("a");
        EXPECT_EQ(group.getChild("a"), nullptr) << size;
        auto* fresh = new PropertyNode("a", TypeInt);
        group.adoptChild(*fresh);
        EXPECT_EQ(group.getChild("a"), fresh);

        // Kept by the caller: destroying it later leaves the new child filed.
        std::unique_ptr<Node> kept(group.getChild("B"));
        auto* replacement = new PropertyNode("B", TypeString);
        group.adoptChild(*replacement);
        kept.reset();
        EXPECT_EQ(group.getChild("B"), replacement) << size;

        // Moved to another parent: one owner only, so both destroy cleanly.
        auto other = std::make_unique<StructuralNode>("other");
        Node* moved = group.getChild("");
        other->adoptChild(*moved);
        EXPECT_EQ(group.getChild(""), nullptr) << size;
        EXPECT_EQ(other->getChild(""), moved);
        EXPECT_EQ(moved->getParent(), other.get());
        group.adoptChild(*moved);  // and back again
        EXPECT_EQ(other->getChild(""), nullptr);
        group.adoptChild(*moved);  // a repeat changes nothing
        EXPECT_EQ(childrenOf(group).size(), size) << size;
    }
}

TEST(Children, ASlotThatNoLongerFitsCostsASearchNotOrder) {
    StructuralNode group("g");
    StructuralNode::Slot slot;
    EXPECT_EQ(group.findChild("m", slot), nullptr);
    group.adoptChild(*new StructuralNode("a"));  // the slot is stale now
    group.adoptChild(*new StructuralNode("m"), slot);
    group.adoptChild(*new StructuralNode("z"), slot);  // a slot found for another name
    StructuralNode other("o");
    group.adoptChild(*new StructuralNode("b"), slot);
    other.findChild("c", slot);  // a slot of another node
    group.adoptChild(*new StructuralNode("c"), slot);
    EXPECT_EQ(childrenOf(group), (Names{"a", "b", "c", "m", "z"}));

    // A found slot refiles the entry: the previous child is the caller's.
    std::unique_ptr<Node> previous(group.findChild("m", slot));
    ASSERT_NE(previous, nullptr);
    auto* replacement = new PropertyNode("m", TypeString);
    group.adoptChild(*replacement, slot);
    EXPECT_EQ(group.getChild("m"), replacement);
    previous.reset();
    EXPECT_EQ(group.getChild("m"), replacement);
}

}  // namespace
