// The written lines, byte for byte, against reviewed files in data/.
#include <gtest/gtest.h>

#include <memory>

#include "TreeText.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"
#include "output/NodeSerialize.h"

using namespace vesk::legacy;
using namespace outputtest;

namespace {

const std::string kData = std::string(HOLLIN_SOURCE_DIR) + "/api/output/tests/data/";

class NodeSerializeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        mDirectory = makeTempDirectory();
        clearLog();
    }
    void TearDown() override { removeTree(mDirectory); }

    std::string written(const Tree& tree) {
        const std::string path = mDirectory + "/tree.xml";
        tree.serialize(path);
        return readFile(path);
    }

    std::string mDirectory;
};

StructuralNode& addGroup(StructuralNode& parent, const std::string& name, int attributes = 0) {
    auto* group = new StructuralNode(name);
    group->setAttributes(attributes);
    parent.adoptChild(*group);
    return *group;
}

PropertyNode& addProperty(StructuralNode& parent, const std::string& name, PropertyType type,
                          int attributes = 0) {
    auto* property = new PropertyNode(name, type);
    property->setAttributes(attributes);
    parent.adoptChild(*property);
    return *property;
}

StructuralNode& rootOf(Tree& tree, const std::string& name, int attributes = 0) {
    auto* root = new StructuralNode(name);
    root->setAttributes(attributes);
    tree.setRoot(root);
    return *root;
}

TEST_F(NodeSerializeTest, EmptyTreeIsTheHeaderAlone) {
    EXPECT_EQ(readFile(kData + "empty_tree.xml"), written(Tree()));
}

TEST_F(NodeSerializeTest, GroupsNestInNameOrder) {
    Tree tree;
    StructuralNode& root = rootOf(tree, "root");
    addGroup(root, "c");
    addGroup(addGroup(root, "a"), "b");
    EXPECT_EQ(readFile(kData + "groups.xml"), written(tree));
}

TEST_F(NodeSerializeTest, AttributeWordsInTheirOrderWithTheirBlanks) {
    Tree tree;
    StructuralNode& root = rootOf(tree, "root", Node::kReadOnly | Node::kFinalised);
    addGroup(root, "g1", Node::kFinalised);
    addGroup(root, "g2", Node::kNotFinalised);
    addGroup(root, "g4", Node::kReadOnly);
    for (int bits : {0, 1, 2, 4, 5, 6}) {
        addProperty(root, "p" + std::to_string(bits), TypeInt, bits)
            .setStringValue(std::to_string(bits), "default");
    }
    EXPECT_EQ(readFile(kData + "attributes.xml"), written(tree));
}

TEST_F(NodeSerializeTest, FinalisedAndNotFinalisedTogetherWriteOneAttribute) {
    // Both words would repeat an attribute, and no reader accepts that.
    Tree tree;
    addProperty(rootOf(tree, "r"), "p", TypeString, Node::kFinalised | Node::kNotFinalised);
    const std::string text = written(tree);
    EXPECT_NE(std::string::npos,
              text.find("<prop zel:name=\"p\" zel:finalised=\"true\"  zel:type=\"xs:string\" >\n"));
    EXPECT_EQ(std::string::npos, text.find("\"false\""));
}

TEST_F(NodeSerializeTest, EveryValueKind) {
    Tree tree;
    StructuralNode& root = rootOf(tree, "values");
    const char* scalars[] = {"true", "-3", "42", "9000000000", "2.5", "hello world", "0aff"};
    for (int type = TypeBoolean; type <= TypeHexBinary; ++type) {
        addProperty(root, "b" + std::to_string(type), static_cast<PropertyType>(type))
            .setStringValue(scalars[type], "default");
    }
    const std::vector<std::vector<std::string>> lists = {
        {"true", "false"}, {"1", "2"}, {"3"}, {"4", "5", "6"}, {"1.5"}, {"a b", "c"}, {"00", "ff"}};
    for (int type = TypeBooleanList; type <= TypeHexBinaryList; ++type) {
        char name[8];
        std::snprintf(name, sizeof name, "l%02d", type);
        addProperty(root, name, static_cast<PropertyType>(type))
            .setListValue(lists[static_cast<size_t>(type - TypeBooleanList)], "default");
    }
    PropertyNode& localList = addProperty(root, "loc_list", TypeStringList);
    localList.localise();
    localList.setListValue({"one", "two"}, "en");
    localList.setListValue({"eins", "zwei"}, "de");
    PropertyNode& localText = addProperty(root, "loc_text", TypeString);
    localText.setStringValue("Mail", "default");
    localText.modifyLocalised(true);
    localText.setStringValue("Post", "de");
    addProperty(root, "none_list", TypeStringList);
    addProperty(root, "none_text", TypeString);
    addProperty(root, "empty_list", TypeStringList).setListValue({}, "default");
    addProperty(root, "empty_item", TypeStringList).setListValue({""}, "default");
    addProperty(root, "empty_text", TypeString).setStringValue("", "default");
    EXPECT_EQ(readFile(kData + "values.xml"), written(tree));
}

TEST_F(NodeSerializeTest, MarkupAndLineBreaksAreEscapedAndSeparatorsAvoidItems) {
    Tree tree;
    StructuralNode& root = rootOf(tree, "r&\"<>");
    addProperty(root, "text", TypeString).setStringValue("x<y & \"z\">\t1\n2\r3", "default");
    addProperty(root, "semi", TypeStringList).setListValue({"a;b", "c"}, "default");
    addProperty(root, "both", TypeStringList).setListValue({"a;b|c", "d"}, "default");
    addProperty(root, "utf8", TypeString).setStringValue("Grüße ✓ 😀", "default");
    PropertyNode& local = addProperty(root, "loc", TypeString);
    local.localise();
    local.setStringValue("v", "de\"x");
    EXPECT_EQ(readFile(kData + "escaped.xml"), written(tree));
    EXPECT_EQ("", loggedText());
}

TEST(ListSeparatorTest, PicksACharacterNoItemHolds) {
    EXPECT_EQ(";", NodeSerialize::listSeparator({}));
    EXPECT_EQ(";", NodeSerialize::listSeparator({"a|b", "c,d"}));
    EXPECT_EQ("|", NodeSerialize::listSeparator({"a;b"}));
    // Every ASCII candidate taken: a private-use character.
    EXPECT_EQ("\xEE\x80\x80", NodeSerialize::listSeparator({";|,:#!~^+=/*@$%?`'"}));
    EXPECT_EQ("\xEE\x80\x81", NodeSerialize::listSeparator({";|,:#!~^+=/*@$%?`'\xEE\x80\x80"}));
}

TEST_F(NodeSerializeTest, VisitorCallsAnswerFalseWhenTheStreamIsNotOpen) {
    NodeSerialize writer(mDirectory + "/never-opened.xml");
    StructuralNode group("g");
    PropertyNode property("p", TypeString);
    EXPECT_FALSE(writer.preChildrenProcess(group));
    EXPECT_FALSE(writer.postChildrenProcess(group));
    EXPECT_FALSE(writer.preChildrenProcess(property));
    EXPECT_FALSE(writer.postChildrenProcess(property));
    writer.close();
    EXPECT_NE(0, ::access((mDirectory + "/never-opened.xml").c_str(), F_OK));
}

}  // namespace
