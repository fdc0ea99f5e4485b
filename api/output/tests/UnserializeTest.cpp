// SPDX-License-Identifier: LGPL-2.1-or-later
// Reading tree files back: round trips compared structure by structure, and the
// broken files of data/broken/.
#include <gtest/gtest.h>

#include <filesystem>

#include "SyslogSeam.h"
#include "TreeText.h"

using namespace outputtest;

namespace {

const std::string kData = HOLLIN_SOURCE_DIR "/api/output/tests/data/";

// Every type, localised values, protection bits and hostile text at once.
void buildRichTree(Tree& tree) {
    StructuralNode& top = root(tree, "com.orvek.ferrun.applications");
    StructuralNode& typed = group(top, "typed");
    for (int type = TypeBoolean; type <= TypeHexBinaryList; ++type) {
        PropertyNode& node = property(typed, "t" + std::to_string(type), PropertyType(type));
        node.setStringValue("1", "default");
        node.setListValue({"1", "", "0"}, "default");
    }
    property(typed, "empty", TypeStringList).setListValue({}, "default");
    property(typed, "empty_item", TypeStringList).setListValue({""}, "default");
    property(typed, "two_empty_items", TypeStringList).setListValue({"", ""}, "default");
    property(typed, "no_value", TypeIntList);

    PropertyNode& title = property(top, "title", TypeString);
    title.setStringValue("Mail", "default");
    title.modifyLocalised(true);
    for (const char* locale : {"de", "fr_FR.UTF-8", "", "de\"<&>\tx"}) {
        title.setStringValue(std::string("in ") + locale, locale);
    }
    PropertyNode& menu = property(top, "menu", TypeStringList, Node::kFinalised);
    menu.localise();
    menu.setListValue({"Datei", "Öffnen;Schließen"}, "de");
    menu.setListValue({}, "fr");
    menu.setListValue({""}, "it");

    // Read-only nodes keep their values: the bit goes on after the content.
    StructuralNode& locked = group(top, "locked", Node::kReadOnly);
    property(locked, "kept", TypeString, Node::kReadOnly).setStringValue("x", "default");
    property(locked, "both", TypeInt, Node::kReadOnly | Node::kFinalised)
        .setStringValue("1", "default");
    property(locked, "lifted", TypeInt, Node::kReadOnly | Node::kNotFinalised)
        .setStringValue("2", "default");
    group(locked, "finalised", Node::kFinalised);
    group(locked, "not finalised", Node::kNotFinalised);

    StructuralNode& hostile = group(top, "hostile <&> \"names\"");
    property(hostile, "markup", TypeString).setStringValue("<a href=\"x&y\">]]></a>", "default");
    property(hostile, "breaks", TypeString)
        .setStringValue("1\n2\r\n3\r\t lead trail \t", "default");
    property(hostile, "entity-like", TypeString).setStringValue("&amp; &#38; &lt; %s", "default");
    property(hostile, "utf8 Grüße ✓ 😀", TypeString).setStringValue("日本語", "default");
    property(hostile, "line\nin name", TypeString).setStringValue("", "default");
    property(hostile, "items", TypeStringList)
        .setListValue({"a;b", ";", "c|d", "one\ntwo", " "}, "default");
    property(hostile, "every separator", TypeStringList)
        .setListValue({";|,:#!~^+=/*@$%?`'", "x"}, "default");
}

class UnserializeTest : public ::testing::Test {
  protected:
    void SetUp() override { syslogseam::clear(); }

    ScratchDirectory mScratch;
    const std::string mPath = mScratch.path + "/tree.xml";
};

TEST_F(UnserializeTest, RoundTripKeepsStructureTypesValuesLocalesAndBits) {
    Tree original;
    buildRichTree(original);
    original.serialize(mPath);
    const std::string bytes = readFile(mPath);

    Tree fresh;  // no root yet: it takes the file's
    fresh.unserialize(mPath);
    EXPECT_EQ(treeText(original), treeText(fresh));

    Tree loaded;
    root(loaded, "old");
    loaded.unserialize(mPath);
    EXPECT_EQ(treeText(original), treeText(loaded));
    loaded.serialize(mPath);
    EXPECT_EQ(bytes, readFile(mPath));
    EXPECT_EQ("", syslogseam::text());
}

TEST_F(UnserializeTest, LinesLongerThanAnyReadBufferComeBackWhole) {
    Tree tree;
    property(root(tree, "r"), "p", TypeString).setStringValue(std::string(1600000, 'x'), "d");
    tree.serialize(mPath);
    Tree back;
    back.unserialize(mPath);
    EXPECT_EQ(treeText(tree), treeText(back));
}

TEST_F(UnserializeTest, LayerSpellingsKeepTheirMeaning) {
    writeFile(mPath,
              "<zel:component-data zel:name=\"c\"><prop zel:name=\"l\" zel:type=\"zel:int-list\" "
              "zel:finalized=\"true\"><value>1 2</value></prop></zel:component-data>");
    Tree tree;
    tree.unserialize(mPath);
    ASSERT_NE(nullptr, tree.getRoot());
    const Node* list = tree.getRoot()->asStructuralNode()->getChild("l");
    EXPECT_EQ(Node::kFinalised, list->getAttributes());
    EXPECT_EQ((std::vector<std::string>{"1", "2"}), list->asPropertyNode()->getListValue("x"));
}

TEST_F(UnserializeTest, HeaderOnlyFileIsAnEmptyTree) {
    for (const char* text : {"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n", "<?xml ?>\n\n \n"}) {
        writeFile(mPath, text);
        Tree tree;
        root(tree, "old");
        tree.unserialize(mPath);
        EXPECT_EQ(nullptr, tree.getRoot());
    }
    EXPECT_EQ("", syslogseam::text());
}

TEST_F(UnserializeTest, BrokenFilesLeaveTheTreeAloneAndAreLoggedByName) {
    std::vector<std::string> files = {mScratch.path + "/missing.xml", mScratch.path};
    for (const auto& entry : std::filesystem::directory_iterator(kData + "broken")) {
        files.push_back(entry.path().string());
    }
    const auto descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    const auto openBefore = descriptors();
    Tree original;
    buildRichTree(original);
    for (const auto& file : files) {
        SCOPED_TRACE(file);
        syslogseam::clear();
        Tree tree(original);
        tree.unserialize(file);
        EXPECT_EQ(treeText(original), treeText(tree));
        Tree empty;
        empty.unserialize(file);
        EXPECT_EQ(nullptr, empty.getRoot());
        ASSERT_EQ(2u, syslogseam::messages().size()) << syslogseam::text();
        EXPECT_EQ(0u, syslogseam::messages()[0].text.find("Cannot read tree file " + file + ": "));
    }
    EXPECT_EQ(openBefore, descriptors());
}

}  // namespace
