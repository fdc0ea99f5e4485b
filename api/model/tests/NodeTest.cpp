#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "model/NodeVisitor.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

using namespace vesk::legacy;
using Names = std::vector<std::string>;

namespace {

// Records "pre:name" and "post:name"; answers false in pre for one name.
class Recorder : public NodeVisitor {
  public:
    explicit Recorder(const std::string& prune = "") : mPrune(prune) {}
    bool preChildrenProcess(Node& node) override {
        mSeen.push_back("pre:" + node.getName());
        return node.getName() != mPrune;
    }
    bool postChildrenProcess(Node& node) override {
        mSeen.push_back("post:" + node.getName());
        return false;
    }
    Names mSeen;

  private:
    std::string mPrune;
};

PropertyNode* addProperty(StructuralNode& parent, const std::string& name, PropertyType type) {
    auto* property = new PropertyNode(name, type);
    parent.adoptChild(*property);
    return property;
}

StructuralNode* addGroup(StructuralNode& parent, const std::string& name) {
    auto* group = new StructuralNode(name);
    parent.adoptChild(*group);
    return group;
}

int sDestroyed = 0;
struct CountedGroup : StructuralNode {
    using StructuralNode::StructuralNode;
    ~CountedGroup() override { ++sDestroyed; }
};
struct CountedProperty : PropertyNode {
    using PropertyNode::PropertyNode;
    ~CountedProperty() override { ++sDestroyed; }
};

}  // namespace

TEST(NodeVisit, DepthFirstInByteOrderAndPrunesOnlyTheRefusedSubtree) {
    StructuralNode root("root");
    StructuralNode* a = addGroup(root, "a");
    addProperty(*a, "hidden", TypeString);
    addGroup(*addGroup(root, "item2"), "inner");
    addProperty(root, "item10", TypeString);
    addProperty(root, "B", TypeInt);
    addProperty(root, "\xc3\xa9t\xc3\xa9", TypeString);  // bytes >= 0x80 sort last

    Recorder recorder("a");
    root.visit(recorder);
    EXPECT_EQ(recorder.mSeen,
              (Names{"pre:root", "pre:B", "post:B", "pre:a", "post:a", "pre:item10", "post:item10",
                     "pre:item2", "pre:inner", "post:inner", "post:item2", "pre:\xc3\xa9t\xc3\xa9",
                     "post:\xc3\xa9t\xc3\xa9", "post:root"}));

    Names names{"kept"};
    root.getChildren(names);
    EXPECT_EQ(names, (Names{"kept", "B", "a", "item10", "item2", "\xc3\xa9t\xc3\xa9"}));
}

// The merger and the tree reader destroy a replaced child or root before
// handing over the new one; reading or freeing it again would be caught by
// the sanitizer build.
TEST(NodeOwnership, ReplacedChildrenAndRootsAreNotTouched) {
    StructuralNode parent("p");
    auto* old = new PropertyNode("x", TypeString);
    parent.adoptChild(*old);
    EXPECT_EQ(old->getParent(), &parent);
    delete old;
    auto* replacement = new StructuralNode("x");
    parent.adoptChild(*replacement);
    EXPECT_EQ(parent.getChild("x"), replacement);
    EXPECT_EQ(replacement->getParent(), &parent);

    delete replacement;
    parent.removeChild("x");
    parent.removeChild("never-there");
    EXPECT_EQ(parent.getChild("x"), nullptr);

    Tree tree;
    auto* firstRoot = new StructuralNode("r");
    tree.setRoot(firstRoot);
    delete firstRoot;
    tree.setRoot(new StructuralNode("r2"));
    EXPECT_EQ(tree.getRoot()->getName(), "r2");
}

TEST(NodeOwnership, DestroyingATreeDestroysEveryNode) {
    sDestroyed = 0;
    {
        Tree tree;
        auto* root = new CountedGroup("root");
        tree.setRoot(root);
        auto* group = new CountedGroup("g");
        root->adoptChild(*group);
        auto* list = new CountedProperty("l", TypeStringList);
        list->setListValue({"a", "b"}, "default");
        group->adoptChild(*list);
        auto* text = new CountedProperty("t", TypeString);
        text->setStringValue("x", "default");
        text->modifyLocalised(true);
        text->setStringValue("y", "de");
        root->adoptChild(*text);
    }
    EXPECT_EQ(sDestroyed, 4);
}

TEST(NodeAttributes, ModifyOnlyMovesTheFinalisationBits) {
    struct Case {
        int before, argument, after;
    } cases[] = {
        {2, 1, 1}, {0, 3, 1}, {1, 2, 2}, {0, 0, 0}, {2, 0, 2},  {0, 4, 0},
        {0, 8, 0}, {4, 1, 4}, {4, 2, 4}, {6, 1, 6}, {0, 12, 0},
    };
    for (const Case& c : cases) {
        StructuralNode node("n");
        node.setAttributes(c.before);
        node.modifyAttributes(c.argument);
        EXPECT_EQ(node.getAttributes(), c.after) << c.before << " <- " << c.argument;
    }
}

// A setter that could flip bit 8 would make a property read its text as a
// locale map or the reverse.
TEST(NodeAttributes, SetterNeverChangesTheLocalisedBit) {
    PropertyNode plain("p", TypeString);
    plain.setStringValue("v", "default");
    plain.setAttributes(Node::kLocalised | Node::kReadOnly);
    EXPECT_EQ(plain.getAttributes(), Node::kReadOnly);
    EXPECT_EQ(plain.getStringValue("default"), "v");

    PropertyNode localised("p", TypeString);
    localised.setStringValue("v", "default");
    localised.modifyLocalised(true);
    localised.setAttributes(Node::kFinalised);
    EXPECT_EQ(localised.getAttributes(), Node::kFinalised | Node::kLocalised);
    EXPECT_EQ(localised.getStringValue("default"), "v");
    EXPECT_EQ(localised.getStringValue("fr"), "");
}

TEST(NodeClone, CopiesBitsAndValuesAndLeavesTheOriginalAlone) {
    StructuralNode root("root");
    root.setAttributes(Node::kReadOnly | Node::kFinalised);
    StructuralNode* group = addGroup(root, "g");
    PropertyNode* title = addProperty(*group, "title", TypeString);
    title->setStringValue("Mail", "default");
    title->modifyLocalised(true);
    title->setStringValue("Post", "de");
    title->setAttributes(Node::kNotFinalised);
    addProperty(*group, "empty", TypeIntList);

    std::unique_ptr<Node> shallow(group->clone(false));
    std::vector<std::string> names;
    shallow->asStructuralNode()->getChildren(names);
    EXPECT_TRUE(names.empty());

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
    names.clear();
    copyTitle->getLocales(names);
    EXPECT_EQ(names, (Names{"de", "default"}));
    EXPECT_EQ(copyTitle->getStringValue("de"), "Post");

    std::unique_ptr<Node> property(title->clone(false));
    EXPECT_EQ(property->asPropertyNode()->getStringValue("fr"), "Courrier");
    EXPECT_EQ(property->getParent(), nullptr);
}

TEST(TreeCopy, EmptyStaysEmptyAndFullIsDeep) {
    Tree empty;
    Tree emptyCopy(empty);
    EXPECT_EQ(emptyCopy.getRoot(), nullptr);

    Tree tree;
    auto* root = new StructuralNode("root");
    tree.setRoot(root);
    addProperty(*root, "p", TypeString)->setStringValue("v", "default");
    Tree copy(tree);
    ASSERT_NE(copy.getRoot(), root);
    Node* copied = copy.getRoot()->asStructuralNode()->getChild("p");
    ASSERT_NE(copied, root->getChild("p"));
    EXPECT_EQ(copied->asPropertyNode()->getStringValue("default"), "v");
}

TEST(PropertyValues, UnlocalisedIgnoresTheLocale) {
    PropertyNode p("p", TypeString);
    Names locales{"x"};
    p.getLocales(locales);
    EXPECT_EQ(locales, (Names{"x", "default"}));
    p.setStringValue("first", "de");
    p.setStringValue("second", "fr");
    EXPECT_EQ(p.getStringValue("de"), "second");
    EXPECT_EQ(p.getStringValue("anything"), "second");
    EXPECT_EQ(p.getAttributes(), 0);
}

TEST(PropertyValues, LocalisingKeepsTheValueUnderDefaultWithoutFallback) {
    PropertyNode p("p", TypeString);
    p.modifyLocalised(true);  // no value yet: stays as it is
    EXPECT_EQ(p.getAttributes(), 0);
    p.setStringValue("x", "default");
    p.modifyLocalised(false);
    EXPECT_FALSE(p.isLocalised());
    p.modifyLocalised(true);
    EXPECT_EQ(p.getAttributes(), Node::kLocalised);
    EXPECT_EQ(p.getStringValue("default"), "x");
    EXPECT_EQ(p.getStringValue("de"), "");
    EXPECT_EQ(p.findBestValue("de"), nullptr);
    p.setStringValue("y", "de_CH");
    EXPECT_EQ(p.getStringValue("de"), "");
    EXPECT_EQ(p.getStringValue("de_CH"), "y");
    p.modifyLocalised(false);  // never goes back
    Names locales;
    p.getLocales(locales);
    EXPECT_EQ(locales, (Names{"de_CH", "default"}));
}

TEST(PropertyValues, LocaliseWithoutValueGivesNoLocales) {
    PropertyNode p("p", TypeStringList);
    p.localise();
    EXPECT_EQ(p.getAttributes(), Node::kLocalised);
    Names locales;
    p.getLocales(locales);
    EXPECT_TRUE(locales.empty());
    EXPECT_EQ(p.findBestValue("default"), nullptr);
    p.addListValues({"a"}, "fr");
    EXPECT_EQ(p.getListValue("fr"), (Names{"a"}));

    PropertyNode held("h", TypeString);
    held.setStringValue("x", "default");
    held.localise();
    held.localise();
    EXPECT_EQ(held.getStringValue("default"), "x");
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
