#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "TestTrees.h"
#include "change/TreeComparator.h"

using namespace vesk::legacy;
using namespace vesk::legacy::testing;

namespace {

using Events = std::vector<std::string>;

Events diff(Node* newRoot, Node* oldRoot) {
    auto newTree = tree(newRoot);
    auto oldTree = tree(oldRoot);
    RecordingHandler handler;
    newTree->substract(*oldTree, handler);
    return handler.events;
}

struct Case {
    const char* title;
    std::function<Node*()> oldRoot;
    std::function<Node*()> newRoot;
    Events expected;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.title;
}

class SubstractTest : public ::testing::TestWithParam<Case> {};

TEST_P(SubstractTest, SendsExactlyTheseEvents) {
    const Case& c = GetParam();
    EXPECT_EQ(diff(c.newRoot(), c.oldRoot()), c.expected) << c.title;
}

Node* none() {
    return nullptr;
}

const Case kCases[] = {
    {"worked example: changed value, removed and added group",
     [] {
         return group("r", {group("a", {text("p", "1")}), group("b")});
     },
     [] {
         return group("r", {group("a", {text("p", "2")}), group("c")});
     },
     {"startTree", "modifyNode r 0", "removeNode b", "endNode", "modifyNode a 0",
      "modifyProperty p 5 0", "setStringValue 2 default", "endProperty", "endNode",
      "replaceNode c 0", "endNode", "endNode", "endTree"}},
    {"equal trees send nothing between start and end",
     [] {
         return group("r", {group("a", {text("p", "1"), list("l", {"x"})})});
     },
     [] {
         return group("r", {group("a", {text("p", "1"), list("l", {"x"})})});
     },
     {"startTree", "endTree"}},
    {"two empty trees", none, none, {"startTree", "endTree"}},
    {"new tree empty: the old root is removed",
     [] { return group("r", {group("a")}); },
     none,
     {"startTree", "removeNode r", "endNode", "endTree"}},
    {"old tree empty: everything replaced, every value sent",
     none,
     [] {
         return group("r", {group("a", {text("p", "1")}), list("q", {"x", "y"})});
     },
     {"startTree", "replaceNode r 0", "replaceNode a 0", "replaceProperty p 5 0",
      "setStringValue 1 default", "endProperty", "endNode", "replaceProperty q 12 0",
      "setListValue x y default", "endProperty", "endNode", "endTree"}},
    {"added group: its whole subtree arrives as replacements",
     [] { return group("r", {group("a")}); },
     [] {
         return group("r", {group("a"), group("g", {group("h", {text("p", "1")})})});
     },
     {"startTree", "modifyNode r 0", "replaceNode g 0", "replaceNode h 0", "replaceProperty p 5 0",
      "setStringValue 1 default", "endProperty", "endNode", "endNode", "endNode", "endTree"}},
    {"removals in byte order right after the parent opens, before its new children",
     [] {
         return group("r", {group("g", {group("a", {text("x", "1")}), group("B"), text("c", "1"),
                                        text("k", "1")})});
     },
     [] {
         return group("r", {group("g", {text("k", "2"), group("n")})});
     },
     {"startTree", "modifyNode r 0", "modifyNode g 0", "removeNode B", "endNode", "removeNode a",
      "endNode", "removeNode c", "endNode", "modifyProperty k 5 0", "setStringValue 2 default",
      "endProperty", "replaceNode n 0", "endNode", "endNode", "endNode", "endTree"}},
    {"lazy opening: unchanged subtrees and siblings leave no trace",
     [] {
         return group("r", {group("a", {group("d", {text("p", "1")})}),
                            group("b", {text("q", "1")}), group("z", {text("s", "1")})});
     },
     [] {
         return group("r", {group("a", {group("d", {text("p", "1")})}),
                            group("b", {text("q", "2")}), group("z", {text("s", "1")})});
     },
     {"startTree", "modifyNode r 0", "modifyNode b 0", "modifyProperty q 5 0",
      "setStringValue 2 default", "endProperty", "endNode", "endNode", "endTree"}},
    {"a reordered list is no change; other repetitions are",
     [] {
         return group("r", {list("o", {"x", "y"}), list("m", {"a", "a", "b"})});
     },
     [] {
         return group("r", {list("o", {"y", "x"}), list("m", {"a", "b", "b"})});
     },
     {"startTree", "modifyNode r 0", "modifyProperty m 12 0", "setListValue a b b default",
      "endProperty", "endNode", "endTree"}},
    {"attribute difference 1: property finalised, group finalised",
     [] {
         return group("r", {text("p", "1"), group("g")});
     },
     [] {
         return group("r", {text("p", "1", Node::kFinalised), group("g", {}, Node::kReadOnly)});
     },
     {"startTree", "modifyNode r 0", "modifyNode g 1", "endNode", "modifyProperty p 5 1",
      "endProperty", "endNode", "endTree"}},
    {"attribute difference 2: protection lifted; read-only to finalised is none",
     [] {
         return group("r", {text("p", "1", Node::kReadOnly), text("q", "1", Node::kReadOnly)});
     },
     [] {
         return group("r", {text("p", "1"), text("q", "1", Node::kFinalised)});
     },
     {"startTree", "modifyNode r 0", "modifyProperty p 5 2", "endProperty", "endNode", "endTree"}},
    {"attribute difference 8: a property turning localised",
     [] { return group("r", {text("p", "x")}); },
     [] {
         return group("r", {localised("p", {{"default", "x"}, {"de", "y"}})});
     },
     {"startTree", "modifyNode r 0", "modifyProperty p 5 8", "setStringValue y de", "endProperty",
      "endNode", "endTree"}},
    {"a locale that went away opens the property without a value",
     [] {
         return group("r", {localised("p", {{"default", "x"}, {"de", "y"}})});
     },
     [] { return group("r", {text("p", "x")}); },
     {"startTree", "modifyNode r 0", "modifyProperty p 5 8", "endProperty", "endNode", "endTree"}},
    {"a new locale sends its value even when it reads like the old one",
     [] {
         return group("r", {text("p", "x"), localised("q", {{"default", "x"}})});
     },
     [] {
         return group("r", {localised("p", {{"default", "x"}, {"de", "x"}}),
                            localised("q", {{"default", "x"}, {"fr", ""}})});
     },
     {"startTree", "modifyNode r 0", "modifyProperty p 5 8", "setStringValue x de", "endProperty",
      "modifyProperty q 5 8", "setStringValue  fr", "endProperty", "endNode", "endTree"}},
    {"a type change with the same text is no change",
     [] { return group("r", {text("p", "5", 0, TypeInt)}); },
     [] { return group("r", {text("p", "5", 0, TypeString)}); },
     {"startTree", "endTree"}},
    {"a group that became a property: removed, then added",
     [] {
         return group("r", {group("a", {text("x", "1")}), text("b", "1")});
     },
     [] {
         return group("r", {text("a", "1"), text("b", "1")});
     },
     {"startTree", "modifyNode r 0", "removeNode a", "endNode", "replaceProperty a 5 0",
      "setStringValue 1 default", "endProperty", "endNode", "endTree"}},
    {"a property that became a group: removed, then its subtree added",
     [] { return group("r", {text("a", "1")}); },
     [] { return group("r", {group("a", {text("x", "1")})}); },
     {"startTree", "modifyNode r 0", "removeNode a", "endNode", "replaceNode a 0",
      "replaceProperty x 5 0", "setStringValue 1 default", "endProperty", "endNode", "endNode",
      "endTree"}},
    {"a root of the other kind",
     [] { return text("r", "1"); },
     [] { return group("r"); },
     {"startTree", "removeNode r", "endNode", "replaceNode r 0", "endNode", "endTree"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, SubstractTest, ::testing::ValuesIn(kCases));

TEST(SubstractTest, ChangeDeepDownOpensEveryAncestor) {
    // Deeper than the XML parser would ever nest, to show the walk copes.
    constexpr int kDepth = 3000;
    auto chain = [](const std::string& value) {
        Node* node = text("p", value);
        for (int i = kDepth - 1; i >= 0; --i) {
            node = group("n" + std::to_string(i), {node});
        }
        return node;
    };
    const Events events = diff(chain("2"), chain("1"));
    ASSERT_EQ(events.size(), 2u * kDepth + 5);
    EXPECT_EQ(events[1], "modifyNode n0 0");
    EXPECT_EQ(events[kDepth], "modifyNode n2999 0");
    EXPECT_EQ(events[kDepth + 1], "modifyProperty p 5 0");
    EXPECT_EQ(events[kDepth + 2], "setStringValue 2 default");
    EXPECT_EQ(events[kDepth + 3], "endProperty");
    EXPECT_EQ(events.back(), "endTree");
}

TEST(SubstractTest, LeavesTheNewTreeAsItWas) {
    // Comparing against a localised old property must not localise the new
    // one: it would then answer other locales with nothing.
    auto newTree = tree(group("r", {text("p", "x")}));
    auto oldTree = tree(group("r", {localised("p", {{"default", "y"}, {"de", "z"}})}));
    RecordingHandler handler;
    newTree->substract(*oldTree, handler);
    auto* p = newTree->getRoot()->asStructuralNode()->getChild("p")->asPropertyNode();
    EXPECT_FALSE(p->isLocalised());
    EXPECT_EQ(p->getStringValue("de"), "x");
}

TEST(SubstractTest, HandlerExceptionPassesThrough) {
    struct Failing : RecordingHandler {
        void setStringValue(const std::string&, const std::string&) override {
            throw std::runtime_error("full");
        }
    } handler;
    auto newTree = tree(group("r", {group("a", {text("p", "2")})}));
    auto oldTree = tree(group("r", {group("a", {text("p", "1")})}));
    EXPECT_THROW(newTree->substract(*oldTree, handler), std::runtime_error);
    EXPECT_EQ(handler.events.back(), "modifyProperty p 5 0");
}

TEST(AttributesTest, ProtectionAndDifference) {
    struct Row {
        int oldAttributes, newAttributes, expected;
    };
    const int F = Node::kFinalised, N = Node::kNotFinalised, R = Node::kReadOnly,
              L = Node::kLocalised;
    const Row rows[] = {
        {0, 0, 0}, {0, F, 1}, {0, R, 1},         {F, 0, 2},     {R, 0, 2},
        {R, F, 0}, {F, R, 0}, {R, R | N, 2},     {F | N, R, 1}, {R | N, 0, 0},
        {0, L, L}, {L, 0, L}, {L, R | L, 1 | L}, {R, L, 2 | L}, {N, N, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(compareAttributes(row.oldAttributes, row.newAttributes), row.expected)
            << row.oldAttributes << " -> " << row.newAttributes;
    }
    EXPECT_FALSE(isProtected(L));
    EXPECT_TRUE(isProtected(R | L));
    EXPECT_FALSE(isProtected(F | R | N));
}

TEST(AttributesTest, ListsCompareAsMultisets) {
    using List = std::vector<std::string>;
    struct Row {
        List a, b;
        bool equal;
    };
    List longA, longB, longC;
    for (int i = 0; i < 40; ++i) {
        longA.push_back(std::to_string(i % 7));
        longB.insert(longB.begin(), std::to_string(i % 7));
        longC.push_back(std::to_string(i % 8));
    }
    const Row rows[] = {
        {{}, {}, true},
        {{"a", "b"}, {"b", "a"}, true},
        {{"a", "a", "b"}, {"a", "b", "b"}, false},
        {{"a"}, {"a", "a"}, false},
        {{"", "a"}, {"a", ""}, true},
        {{"a"}, {"A"}, false},
        {longA, longB, true},
        {longA, longC, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(areListsEqual(row.a, row.b), row.equal);
        EXPECT_EQ(areListsEqual(row.b, row.a), row.equal);
    }
}

}  // namespace
