// SPDX-License-Identifier: LGPL-2.1-or-later
// The written lines, byte for byte, against reviewed files in data/, each of
// which must also read back as the tree it was written from.
#include <gtest/gtest.h>
#include <unistd.h>

#include "SyslogSeam.h"
#include "TreeText.h"
#include "output/NodeSerialize.h"

using namespace outputtest;

namespace {

const std::string kData = HOLLIN_SOURCE_DIR "/api/output/tests/data/";

class NodeSerializeTest : public ::testing::Test {
  protected:
    void SetUp() override { syslogseam::clear(); }

    void expectGolden(const Tree& tree, const std::string& golden) {
        expectWritten(tree, golden);
        expectReadBack(tree, golden);
    }
    void expectWritten(const Tree& tree, const std::string& golden) {
        const std::string path = mScratch.path + "/tree.xml";
        tree.serialize(path);
        EXPECT_EQ(readFile(kData + golden), readFile(path));
        std::string text;
        std::string problem;
        EXPECT_TRUE(NodeSerialize::toText(tree.getRoot(), text, problem)) << problem;
        EXPECT_EQ(readFile(kData + golden), text);
        EXPECT_EQ("", syslogseam::text());
    }
    void expectReadBack(const Tree& tree, const std::string& golden) {
        Tree back;
        back.unserialize(kData + golden);
        EXPECT_EQ(treeText(tree), treeText(back));
        EXPECT_EQ("", syslogseam::text());
    }

    ScratchDirectory mScratch;
};

TEST_F(NodeSerializeTest, EmptyTreeAndGroups) {
    expectGolden(Tree(), "empty_tree.xml");
    Tree tree;
    StructuralNode& top = root(tree, "root");
    group(top, "c");
    group(group(top, "a"), "b");
    expectGolden(tree, "groups.xml");
}

TEST_F(NodeSerializeTest, AttributeWordsInOrderWithTheirBlanks) {
    Tree tree;
    StructuralNode& top = root(tree, "root", Node::kReadOnly | Node::kFinalised);
    for (int bits : {1, 2, 4}) {
        group(top, "g" + std::to_string(bits), bits);
    }
    for (int bits : {0, 1, 2, 4, 5, 6}) {
        property(top, "p" + std::to_string(bits), TypeInt, bits)
            .setStringValue(std::to_string(bits), "default");
    }
    expectGolden(tree, "attributes.xml");
}

TEST_F(NodeSerializeTest, EveryValueKind) {
    Tree tree;
    StructuralNode& top = root(tree, "values");
    const char* scalars[] = {"true", "-3", "42", "9000000000", "2.5", "hello world", "0aff"};
    const std::vector<std::string> lists[] = {
        {"true", "false"}, {"1", "2"}, {"3"}, {"4", "5", "6"}, {"1.5"}, {"a b", "c"}, {"00", "ff"}};
    for (int type = TypeBoolean; type <= TypeHexBinary; ++type) {
        property(top, "b" + std::to_string(type), PropertyType(type))
            .setStringValue(scalars[type], "default");
        property(top, "l" + std::to_string(type + 107).substr(1), PropertyType(type + 7))
            .setListValue(lists[type], "default");
    }
    PropertyNode& localList = property(top, "loc_list", TypeStringList);
    localList.localise();
    localList.setListValue({"one", "two"}, "en");
    localList.setListValue({"eins", "zwei"}, "de");
    PropertyNode& localText = property(top, "loc_text", TypeString);
    localText.setStringValue("Mail", "default");
    localText.modifyLocalised(true);
    localText.setStringValue("Post", "de");
    property(top, "none_list", TypeStringList);
    property(top, "empty_list", TypeStringList).setListValue({}, "default");
    property(top, "empty_item", TypeStringList).setListValue({""}, "default");
    property(top, "empty_text", TypeString).setStringValue("", "default");
    PropertyNode& noneText = property(top, "none_text", TypeString);
    expectWritten(tree, "values.xml");
    // A scalar without value writes the empty line, so it reads back as "".
    noneText.setStringValue("", "default");
    expectReadBack(tree, "values.xml");
}

TEST_F(NodeSerializeTest, MarkupAndLineBreaksEscapedAndSeparatorsAvoidItems) {
    Tree tree;
    StructuralNode& top = root(tree, "r&\"<>");
    property(top, "text", TypeString).setStringValue("x<y & \"z\">\t1\n2\r3", "default");
    property(top, "semi", TypeStringList).setListValue({"a;b", "c"}, "default");
    property(top, "both", TypeStringList).setListValue({"a;b|c", "d"}, "default");
    property(top, "utf8", TypeString).setStringValue("Grüße ✓ 😀", "default");
    // Valid XML, but they steer terminals: written as references.
    property(top, "hidden", TypeString)
        .setStringValue(
            "csi \xc2\x9b"
            "2J rlo \xe2\x80\xae isolate \xe2\x81\xa6 sep \xe2\x80\xa8",
            "default");
    PropertyNode& local = property(top, "loc", TypeString);
    local.localise();
    local.setStringValue("v", "de\"x");
    expectGolden(tree, "escaped.xml");
}

TEST_F(NodeSerializeTest, FinalisedAndNotFinalisedTogetherWriteOneAttribute) {
    // Both words would repeat an attribute, which no XML reader accepts.
    Tree tree;
    property(root(tree, "r"), "p", TypeString, Node::kFinalised | Node::kNotFinalised);
    tree.serialize(mScratch.path + "/tree.xml");
    EXPECT_NE(std::string::npos, readFile(mScratch.path + "/tree.xml")
                                     .find("<prop zel:name=\"p\" zel:finalised=\"true\"  "
                                           "zel:type=\"xs:string\" >\n<value>\n\n</value>\n"));
}

TEST_F(NodeSerializeTest, APropertyAsRootIsNoTreeFile) {
    PropertyNode property("p", TypeString);
    std::string text;
    std::string problem;
    EXPECT_FALSE(NodeSerialize::toText(&property, text, problem));
    EXPECT_EQ("the tree's root is a property, not a group", problem);
}

TEST_F(NodeSerializeTest, VisitorAnswersFalseWhileTheStreamIsNotOpen) {
    NodeSerialize writer(mScratch.path + "/never-opened.xml");
    StructuralNode group("g");
    PropertyNode property("p", TypeString);
    for (Node* node : {static_cast<Node*>(&group), static_cast<Node*>(&property)}) {
        EXPECT_FALSE(writer.preChildrenProcess(*node));
        EXPECT_FALSE(writer.postChildrenProcess(*node));
    }
    writer.close();
    EXPECT_TRUE(testsupport::listDir(mScratch.path).empty());
}

}  // namespace
