// SPDX-License-Identifier: LGPL-2.1-or-later
// Nodes and trees: child order, visits, ownership (the sanitizer build catches
// stale pointers and leaks), attribute bits, clones and values.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "model/ConstNodeVisitor.h"
#include "model/NodeArena.h"
#include "model/NodePath.h"
#include "model/NodeVisitor.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

using namespace vesk::legacy;
using Names = std::vector<std::string>;

// Copies would share children, values or the root; clone is the way to copy.
static_assert(!std::is_copy_assignable_v<Tree> && !std::is_copy_constructible_v<StructuralNode> &&
              !std::is_copy_assignable_v<StructuralNode> &&
              !std::is_copy_constructible_v<PropertyNode> &&
              !std::is_copy_assignable_v<PropertyNode>);

namespace {

// Records "pre:name" and "post:name"; answers false in pre for "a". The
// same for the walk that changes nodes and the one that only reads them.
template <typename Visitor, typename NodeType>
struct Recorder : Visitor {
    bool preChildrenProcess(NodeType& node) override {
        mSeen.push_back("pre:" + node.getName());
        return node.getName() != "a";
    }
    bool postChildrenProcess(NodeType& node) override {
        mSeen.push_back("post:" + node.getName());
        return false;
    }
    Names mSeen;
};

template <typename T>
T* add(StructuralNode& parent, T* child) {
    parent.adoptChild(*child);
    return child;
}

Names childrenOf(const StructuralNode& node, Names names = {}) {
    node.getChildren(names);
    return names;
}

Names localesOf(const PropertyNode& property, Names locales = {}) {
    property.getLocales(locales);
    return locales;
}

int sDestroyed = 0;
template <typename Base>
struct Counted : Base {
    using Base::Base;
    ~Counted() override { ++sDestroyed; }
};

// count (at least 4) names out of order: an empty name, bytes >= 0x80, shared
// prefixes, and names alike in their first eight bytes that differ in length,
// by a null byte or after the eighth byte.
Names scrambledNames(size_t count) {
    Names names{"", "\xc3\xa9", "B", "a"};
    const Names alike{"abcdefgh",
                      "abcdefghj",
                      std::string("abcdefgh\0", 9),
                      "abcdefg",
                      std::string("abcdefg\0", 8),
                      "abcdefghi"};
    for (size_t i = 0; i < alike.size() && names.size() < count; ++i) {
        names.push_back(alike[i]);
    }
    for (size_t i = names.size(); i < count; ++i) {
        names.push_back("item" + std::to_string(i * 7 % count));  // 7 is prime to every count
    }
    return names;
}

TEST(NodeVisit, DepthFirstInByteOrderAndPrunesOnlyTheRefusedSubtree) {
    StructuralNode root("root");
    add(*add(root, new StructuralNode("a")), new PropertyNode("hidden", TypeString));
    add(*add(root, new StructuralNode("item2")), new StructuralNode("inner"));
    add(root, new PropertyNode("item10", TypeString));
    add(root, new PropertyNode("B", TypeInt));
    add(root, new PropertyNode("\xc3\xa9t\xc3\xa9", TypeString));  // bytes >= 0x80 sort last

    Recorder<NodeVisitor, Node> recorder;
    root.visit(recorder);
    EXPECT_EQ(recorder.mSeen,
              (Names{"pre:root", "pre:B", "post:B", "pre:a", "post:a", "pre:item10", "post:item10",
                     "pre:item2", "pre:inner", "post:inner", "post:item2", "pre:\xc3\xa9t\xc3\xa9",
                     "post:\xc3\xa9t\xc3\xa9", "post:root"}));
    Recorder<ConstNodeVisitor, const Node> reader;
    static_cast<const StructuralNode&>(root).visit(reader);
    EXPECT_EQ(reader.mSeen, recorder.mSeen);
    EXPECT_EQ(childrenOf(root, {"kept"}),
              (Names{"kept", "B", "a", "item10", "item2", "\xc3\xa9t\xc3\xa9"}));
}

// Every path walk: text and split names reach the same node, empty names
// count, and a property ends the walk.
TEST(FindPath, TextAndNamesReachTheSameNode) {
    StructuralNode root("root");
    StructuralNode* a = add(root, new StructuralNode("a"));
    PropertyNode* b = add(*a, new PropertyNode("b", TypeString));
    StructuralNode* empty = add(*a, new StructuralNode(""));
    StructuralNode* x = add(*empty, new StructuralNode("x"));
    PropertyNode* p = add(root, new PropertyNode("p", TypeString));
    const struct {
        const char* text;
        const Node* found;
    } rows[] = {
        {"a", a},      {"a/b", b},   {"a/", empty}, {"a//x", x}, {"p", p},
        {"a/b/c", {}}, {"a/b/", {}}, {"p/", {}},    {"", {}},    {"/a", {}},
        {"A", {}},     {"a/x", {}},  {"a//x/", {}}, {"b", {}},   {"a/\xc3\xa9", {}},
    };
    for (const auto& row : rows) {
        Names names;
        NodePath::forEachName(row.text, [&names](std::string_view name) {
            names.emplace_back(name);
            return true;
        });
        EXPECT_EQ(StructuralNode::findPath(&root, row.text), row.found) << row.text;
        EXPECT_EQ(StructuralNode::findPath(static_cast<const Node*>(&root), row.text), row.found)
            << row.text;
        EXPECT_EQ(StructuralNode::findPath(&root, names), row.found) << row.text;
    }
    EXPECT_EQ(StructuralNode::findPath(&root, Names{}), &root);
    // The walk that stops at the first missing name says how far it came.
    std::size_t found = 9;
    EXPECT_EQ(StructuralNode::findDeepest(&root, Names{"a", "", "y", "z"}, found), empty);
    EXPECT_EQ(found, 2u);
    EXPECT_EQ(StructuralNode::findDeepest(&root, Names{"p", "q"}, found), p);
    EXPECT_EQ(found, 1u);
    EXPECT_EQ(StructuralNode::findPath(static_cast<Node*>(nullptr), "a"), nullptr);
    EXPECT_EQ(StructuralNode::findPath(static_cast<Node*>(p), Names{}), p);
}

// Small groups and groups past the switch to the balanced tree.
TEST(Children, OrderLookupAndNoReferenceToReplacedRemovedOrMovedChildren) {
    for (size_t size : {size_t(4), ChildTable::kScannedUpTo, ChildTable::kSmallLimit,
                        ChildTable::kSmallLimit + 1, size_t(200)}) {
        StructuralNode group("g");
        Names names = scrambledNames(size);
        for (const std::string& name : names) {
            add(group, new StructuralNode(name));
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
        for (std::string_view absent : {std::string_view("abcdefghk"), std::string_view("abcdef"),
                                        std::string_view("abcdefg\0\0", 9)}) {
            EXPECT_EQ(group.findChild(absent), nullptr) << size << " " << absent;
        }

        // Destroyed first, as the merger does: the new child takes the name.
        delete group.getChild("a");
        EXPECT_EQ(group.getChild("a"), nullptr) << size;
        auto* fresh = add(group, new PropertyNode("a", TypeInt));
        EXPECT_EQ(group.getChild("a"), fresh);

        // Kept by the caller: destroying it later leaves the new child filed.
        std::unique_ptr<Node> kept(group.getChild("B"));
        auto* replacement = add(group, new PropertyNode("B", TypeString));
        kept.reset();
        EXPECT_EQ(group.getChild("B"), replacement) << size;

        // Moved to another parent: one owner only, so both destroy cleanly.
        auto other = std::make_unique<StructuralNode>("other");
        Node* moved = add(*other, group.getChild(""));
        EXPECT_EQ(group.getChild(""), nullptr) << size;
        EXPECT_EQ(other->getChild(""), moved);
        EXPECT_EQ(moved->getParent(), other.get());
        group.adoptChild(*moved);  // and back again
        EXPECT_EQ(other->getChild(""), nullptr);
        group.adoptChild(*moved);  // a repeat changes nothing
        EXPECT_EQ(childrenOf(group), names) << size;

        // Every second child unhooked, then destroyed by the caller; the rest stay in order.
        for (size_t i = 0; i < names.size(); ++i) {
            std::unique_ptr<Node> child(group.getChild(names[i]));
            group.removeChild(names[i]);
            names.erase(names.begin() + i);
        }
        group.removeChild("never-there");
        EXPECT_EQ(childrenOf(group), names) << size;
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

// Nodes from an arena mix with heap nodes in one tree, move between trees,
// and outlive the scope and the handle; the last one, destroyed on another
// thread, frees the arena (the leak check of the sanitizer build and the
// valgrind run see the rest).
TEST(NodeArena, NodesOutliveTheirBuilderAndMixWithHeapNodes) {
    auto tree = std::make_unique<Tree>();
    tree->setRoot(new StructuralNode("root"));
    StructuralNode& root = *tree->getRoot()->asStructuralNode();
    StructuralNode* kept = nullptr;
    {
        NodeArena::Handle arena = NodeArena::create();
        NodeArena::Scope scope(arena);
        for (int i = 0; i < 2000; ++i) {  // several chunks, and blocks reused
            delete add(root, new StructuralNode("dropped" + std::to_string(i % 7)));
            add(root, new PropertyNode("p" + std::to_string(i), TypeString))
                ->setStringValue(std::string(40, 'v'), "default");
        }
        kept = add(root, new StructuralNode("kept"));
        {
            NodeArena::Handle inner = NodeArena::create();
            NodeArena::Scope innerScope(inner);
            add(*kept, new StructuralNode("inner"));
        }
        add(*kept, new PropertyNode("outer", TypeInt));
    }
    add(*kept, new StructuralNode("heap"));
    EXPECT_EQ(childrenOf(*kept), (Names{"heap", "inner", "outer"}));
    EXPECT_EQ(root.findChild("dropped3"), nullptr);
    EXPECT_EQ(root.getChild("p1999")->asPropertyNode()->getStringValue("default"),
              std::string(40, 'v'));

    StructuralNode other("other");
    other.adoptChild(*kept);  // outlives the tree it came from
    std::thread([&tree] { tree.reset(); }).join();
    EXPECT_EQ(childrenOf(*other.getChild("kept")->asStructuralNode()),
              (Names{"heap", "inner", "outer"}));
}

TEST(Tree, OwnsOnlyItsCurrentRootAndCopiesDeep) {
    Tree empty;
    EXPECT_EQ(Tree(empty).getRoot(), nullptr);

    sDestroyed = 0;
    {
        Tree tree;
        tree.setRoot(new StructuralNode("r"));
        delete tree.getRoot();  // the tree reader destroys the old root before setting the new one
        auto* root = new Counted<StructuralNode>("root");
        tree.setRoot(root);
        auto* group = add(*root, new Counted<StructuralNode>("g"));
        add(*group, new Counted<PropertyNode>("l", TypeStringList))->setListValue({"a"}, "");
        auto* text = add(*root, new Counted<PropertyNode>("t", TypeString));
        text->setStringValue("x", "default");
        text->modifyLocalised(true);
        text->setStringValue("y", "de");

        Tree copy(tree);
        ASSERT_NE(copy.getRoot(), root);
        Node* copied = copy.getRoot()->asStructuralNode()->getChild("t");
        ASSERT_NE(copied, text);
        EXPECT_EQ(copied->asPropertyNode()->getStringValue("de"), "y");
    }
    EXPECT_EQ(sDestroyed, 4);
}

// Bit 8 set by the setter would make a property read its text as a locale
// map; the clone test shows it kept on a localised one.
TEST(NodeAttributes, ModifyMovesOnlyTheFinalisationBitsAndTheSetterNeverBit8) {
    struct Case {
        int before, argument, after;
    } cases[] = {
        {2, 1, 1}, {0, 3, 1}, {1, 2, 2}, {0, 0, 0},  {2, 0, 2}, {0, 4, 0},  {0, 8, 0},
        {4, 1, 4}, {4, 2, 4}, {6, 1, 6}, {0, 12, 0}, {8, 0, 0}, {12, 1, 4},
    };
    for (const Case& c : cases) {
        PropertyNode node("n", TypeString);
        node.setStringValue("v", "default");
        node.setAttributes(c.before);
        node.modifyAttributes(c.argument);
        EXPECT_EQ(node.getAttributes(), c.after) << c.before << " <- " << c.argument;
        EXPECT_EQ(node.getStringValue("default"), "v");
    }
}

TEST(NodeClone, CopiesBitsAndValuesAndLeavesTheOriginalAlone) {
    StructuralNode root("root");
    root.setAttributes(Node::kReadOnly | Node::kFinalised);
    auto* group = add(root, new StructuralNode("g"));
    auto* title = add(*group, new PropertyNode("title", TypeString));
    title->setStringValue("Mail", "default");
    title->modifyLocalised(true);
    title->setStringValue("Post", "de");
    title->setAttributes(Node::kNotFinalised);
    add(*group, new PropertyNode("empty", TypeIntList));

    std::unique_ptr<Node> shallow(group->clone(false));
    EXPECT_TRUE(childrenOf(*shallow->asStructuralNode()).empty());

    std::unique_ptr<Node> deep(root.clone(true));
    EXPECT_EQ(deep->getParent(), nullptr);
    EXPECT_EQ(deep->getAttributes(), Node::kReadOnly | Node::kFinalised);
    auto* copyGroup = deep->asStructuralNode()->getChild("g")->asStructuralNode();
    ASSERT_NE(copyGroup, nullptr);
    EXPECT_EQ(copyGroup->getParent(), deep.get());
    PropertyNode* copyTitle = copyGroup->getChild("title")->asPropertyNode();
    EXPECT_EQ(copyTitle->getAttributes(), Node::kNotFinalised | Node::kLocalised);
    EXPECT_FALSE(copyGroup->getChild("empty")->asPropertyNode()->findBestValue("x")->isSet());

    // The clone has its own values, so changing one side leaves the other.
    title->setStringValue("Courrier", "fr");
    title->setStringValue("Brief", "de");
    EXPECT_EQ(localesOf(*copyTitle), (Names{"de", "default"}));
    EXPECT_EQ(copyTitle->getStringValue("de"), "Post");

    std::unique_ptr<Node> property(title->clone(false));
    EXPECT_EQ(property->asPropertyNode()->getStringValue("fr"), "Courrier");
    EXPECT_EQ(property->getParent(), nullptr);
}

TEST(PropertyValues, OneValueUntilLocalisedThenOnePerLocaleWithoutFallback) {
    PropertyNode p("p", TypeString);
    EXPECT_EQ(localesOf(p, {"x"}), (Names{"x", "default"}));
    p.modifyLocalised(true);  // no value yet: stays as it is
    EXPECT_EQ(p.getAttributes(), 0);
    p.setStringValue("first", "de");
    p.setStringValue("x", "fr");
    EXPECT_EQ(p.getStringValue("anything"), "x") << "the locale is ignored";
    p.modifyLocalised(false);
    EXPECT_FALSE(p.isLocalised());
    p.modifyLocalised(true);
    p.localise();  // again: changes nothing
    EXPECT_EQ(p.getAttributes(), Node::kLocalised);
    EXPECT_EQ(p.getStringValue("default"), "x");
    EXPECT_EQ(p.getStringValue("fr"), "");
    EXPECT_EQ(p.findBestValue("fr"), nullptr);
    p.setStringValue("y", "de_CH");
    EXPECT_EQ(p.getStringValue("de"), "");
    EXPECT_EQ(p.getStringValue("de_CH"), "y");
    p.modifyLocalised(false);  // never goes back
    EXPECT_EQ(localesOf(p), (Names{"de_CH", "default"}));

    // localise() also takes a property without a value: no locales yet.
    PropertyNode list("l", TypeStringList);
    list.localise();
    EXPECT_EQ(list.getAttributes(), Node::kLocalised);
    EXPECT_TRUE(localesOf(list).empty());
    EXPECT_EQ(list.findBestValue("default"), nullptr);
    list.addListValues({"a"}, "fr");
    EXPECT_EQ(list.getListValue("fr"), (Names{"a"}));
}

TEST(PropertyValues, TextAndListNeverMix) {
    PropertyNode list("l", TypeBooleanList);
    EXPECT_TRUE(list.getListValue("default").empty());
    list.setStringValue("ignored", "default");
    EXPECT_FALSE(list.findBestValue("default")->isSet());
    list.addListValues({"a", "b"}, "default");
    EXPECT_EQ(list.getListValue("default"), (Names{"a", "b"}));
    list.setListValue({"x"}, "default");
    list.addListValues({"a", "x"}, "default");
    EXPECT_EQ(list.getListValue("default"), (Names{"x", "a", "x"}));
    EXPECT_EQ(list.getStringValue("default"), "");

    PropertyNode text("t", TypeHexBinary);
    text.setListValue({"a"}, "default");
    text.addListValues({"b"}, "default");
    EXPECT_FALSE(text.findBestValue("default")->isSet());
    text.setStringValue("0F", "default");
    EXPECT_TRUE(text.getListValue("default").empty());
    EXPECT_EQ(text.getStringValue("default"), "0F");

    for (int type = TypeBoolean; type <= TypeHexBinaryList; ++type) {
        EXPECT_EQ(PropertyNode("p", PropertyType(type)).isList(), type >= 7) << type;
    }
    EXPECT_FALSE(isListType(PropertyType(-1)));
}

}  // namespace
