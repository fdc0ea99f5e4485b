// SPDX-License-Identifier: LGPL-2.1-or-later
#include <gtest/gtest.h>

#include <tuple>

#include "TestTrees.h"
#include "change/TreeComparator.h"

using namespace vesk::legacy;
using namespace vesk::legacy::testing;

namespace {

Lines diff(const Tree& newTree, const Tree& oldTree) {
    EventLog handler;
    newTree.substract(oldTree, handler);
    return handler.lines;
}

// Which events come and in what order; whether replaying them gives the new
// tree is ReplayInvariantTest's part.
TEST(SubstractTest, SendsExactlyTheseEvents) {
    const struct {
        const char* title;
        std::shared_ptr<Tree> oldTree, newTree;
        Lines expected;
    } cases[] = {
        {"removals in byte order right after the parent opens, before its new children",
         tree(group("r", {group("g", {group("a", {text("x", "1")}), group("B"), text("c", "1"),
                                      text("k", "1")})})),
         tree(group("r", {group("g", {text("k", "2"), group("n")})})),
         {"startTree", "modifyNode r 0", "modifyNode g 0", "removeNode B", "endNode",
          "removeNode a", "endNode", "removeNode c", "endNode", "modifyProperty k 5 0",
          "setStringValue 2 default", "endProperty", "replaceNode n 0", "endNode", "endNode",
          "endNode", "endTree"}},
        {"lazy opening: unchanged subtrees and siblings leave no trace",
         tree(group("r", {group("a", {group("d", {text("p", "1")})}), group("b", {text("q", "1")}),
                          group("z", {text("s", "1")})})),
         tree(group("r", {group("a", {group("d", {text("p", "1")})}), group("b", {text("q", "2")}),
                          group("z", {text("s", "1")})})),
         {"startTree", "modifyNode r 0", "modifyNode b 0", "modifyProperty q 5 0",
          "setStringValue 2 default", "endProperty", "endNode", "endNode", "endTree"}},
        {"a reordered list is no change; other repetitions are",
         tree(group("r", {list("o", {"x", "y"}), list("m", {"a", "a", "b"})})),
         tree(group("r", {list("o", {"y", "x"}), list("m", {"a", "b", "b"})})),
         {"startTree", "modifyNode r 0", "modifyProperty m 12 0", "setListValue a b b default",
          "endProperty", "endNode", "endTree"}},
        {"attribute difference 1: property finalised, group finalised",
         tree(group("r", {text("p", "1"), group("g")})),
         tree(group("r", {text("p", "1", Node::kFinalised), group("g", {}, Node::kReadOnly)})),
         {"startTree", "modifyNode r 0", "modifyNode g 1", "endNode", "modifyProperty p 5 1",
          "endProperty", "endNode", "endTree"}},
        {"attribute difference 2: protection lifted; read-only to finalised is none",
         tree(group("r", {text("p", "1", Node::kReadOnly), text("q", "1", Node::kReadOnly)})),
         tree(group("r", {text("p", "1"), text("q", "1", Node::kFinalised)})),
         {"startTree", "modifyNode r 0", "modifyProperty p 5 2", "endProperty", "endNode",
          "endTree"}},
        {"attribute difference 8: a property turning localised",
         tree(group("r", {text("p", "x")})),
         tree(group("r", {localised("p", {{"default", "x"}, {"de", "y"}})})),
         {"startTree", "modifyNode r 0", "modifyProperty p 5 8", "setStringValue y de",
          "endProperty", "endNode", "endTree"}},
        {"a type change with the same text is no change",
         tree(group("r", {text("p", "5", 0, TypeInt)})),
         tree(group("r", {text("p", "5", 0, TypeString)})),
         {"startTree", "endTree"}},
        {"a group that became a property: removed, then added",
         tree(group("r", {group("a", {text("x", "1")}), text("b", "1")})),
         tree(group("r", {text("a", "1"), text("b", "1")})),
         {"startTree", "modifyNode r 0", "removeNode a", "endNode", "replaceProperty a 5 0",
          "setStringValue 1 default", "endProperty", "endNode", "endTree"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(diff(*c.newTree, *c.oldTree), c.expected) << c.title;
    }
}

TEST(SubstractTest, LeavesTheNewTreeAsItWas) {
    // Comparing against a localised old property must not localise the new
    // one: it would then answer other locales with nothing.
    auto newTree = tree(group("r", {text("p", "x")}));
    auto oldTree = tree(group("r", {localised("p", {{"default", "y"}, {"de", "z"}})}));
    EventLog handler;
    newTree->substract(*oldTree, handler);
    auto* p = newTree->getRoot()->asStructuralNode()->getChild("p")->asPropertyNode();
    EXPECT_FALSE(p->isLocalised());
    EXPECT_EQ(p->getStringValue("de"), "x");
}

TEST(AttributesTest, ProtectionDifferenceAndListEquality) {
    const int F = Node::kFinalised, N = Node::kNotFinalised, R = Node::kReadOnly,
              L = Node::kLocalised;
    const int rows[][3] = {
        {0, 0, 0}, {0, F, 1}, {0, R, 1},         {F, 0, 2},     {R, 0, 2},
        {R, F, 0}, {F, R, 0}, {R, R | N, 2},     {F | N, R, 1}, {R | N, 0, 0},
        {0, L, L}, {L, 0, L}, {L, R | L, 1 | L}, {R, L, 2 | L}, {N, N, 0},
    };
    for (const auto& [oldBits, newBits, difference] : rows) {
        EXPECT_EQ(compareAttributes(oldBits, newBits), difference) << oldBits << " " << newBits;
    }
    EXPECT_TRUE(isProtected(R | L) && !isProtected(L) && !isProtected(F | R | N));

    Lines longA, longB, longC;  // long enough for the sorted comparison
    for (int i = 0; i < 40; ++i) {
        longA.push_back(std::to_string(i % 7));
        longB.insert(longB.begin(), std::to_string(i % 7));
        longC.push_back(std::to_string(i % 8));
    }
    const std::tuple<Lines, Lines, bool> lists[] = {
        {{}, {}, true},
        {{"a", "b"}, {"b", "a"}, true},
        {{"a", "a", "b"}, {"a", "b", "b"}, false},
        {{"a"}, {"a", "a"}, false},
        {{"", "a"}, {"a", ""}, true},
        {{"a"}, {"A"}, false},
        {longA, longB, true},
        {longA, longC, false},
    };
    for (const auto& [a, b, equal] : lists) {
        EXPECT_EQ(areListsEqual(a, b), equal);
        EXPECT_EQ(areListsEqual(b, a), equal);
    }
}

}  // namespace
