// Reading tree files back: round trips compared structure by structure, the
// reviewed files of data/, and broken files from data/broken/.
#include <dirent.h>
#include <gtest/gtest.h>

#include <memory>

#include "TreeText.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

using namespace vesk::legacy;
using namespace outputtest;

namespace {

const std::string kData = std::string(HOLLIN_SOURCE_DIR) + "/api/output/tests/data/";

StructuralNode& group(StructuralNode& parent, const std::string& name, int attributes = 0) {
    auto* node = new StructuralNode(name);
    node->setAttributes(attributes);
    parent.adoptChild(*node);
    return *node;
}

PropertyNode& property(StructuralNode& parent, const std::string& name, PropertyType type,
                       int attributes = 0) {
    auto* node = new PropertyNode(name, type);
    node->setAttributes(attributes);
    parent.adoptChild(*node);
    return *node;
}

// Every type, localised values, protection bits and hostile text at once.
std::unique_ptr<Tree> richTree() {
    auto tree = std::make_unique<Tree>();
    auto* root = new StructuralNode("com.orvek.ferrun.applications");
    tree->setRoot(root);
    StructuralNode& scalars = group(*root, "scalars");
    const char* texts[] = {"true", "-32768", "2147483647", "-9", "1e-3", "text", "DEADbeef"};
    for (int type = TypeBoolean; type <= TypeHexBinary; ++type) {
        property(scalars, "s" + std::to_string(type), static_cast<PropertyType>(type))
            .setStringValue(texts[type], "default");
    }
    StructuralNode& lists = group(*root, "lists");
    for (int type = TypeBooleanList; type <= TypeHexBinaryList; ++type) {
        property(lists, "l" + std::to_string(type), static_cast<PropertyType>(type))
            .setListValue({"1", "0", "", "1"}, "default");
    }
    property(lists, "empty", TypeStringList).setListValue({}, "default");
    property(lists, "empty_item", TypeStringList).setListValue({""}, "default");
    property(lists, "two_empty_items", TypeStringList).setListValue({"", ""}, "default");
    property(lists, "no_value", TypeIntList);
    property(lists, "one", TypeIntList).setListValue({"7"}, "default");

    StructuralNode& local = group(*root, "localised");
    PropertyNode& title = property(local, "title", TypeString);
    title.setStringValue("Mail", "default");
    title.modifyLocalised(true);
    title.setStringValue("Post", "de");
    title.setStringValue("Courrier", "fr_FR.UTF-8");
    title.setStringValue("", "empty-text");
    title.setStringValue("no locale", "");
    PropertyNode& menu = property(local, "menu", TypeStringList);
    menu.localise();
    menu.setListValue({"Datei", "Öffnen;Schließen"}, "de");
    menu.setListValue({"File", "Open"}, "en");
    menu.setListValue({}, "fr");
    menu.setListValue({""}, "it");

    StructuralNode& locked = group(*root, "locked", Node::kReadOnly);
    property(locked, "kept", TypeString, Node::kReadOnly).setStringValue("x", "default");
    property(locked, "open", TypeString).setStringValue("y", "default");
    group(locked, "final", Node::kFinalised);
    group(locked, "lifted", Node::kNotFinalised);
    property(locked, "both", TypeInt, Node::kReadOnly | Node::kFinalised)
        .setStringValue("1", "default");
    property(locked, "unlocked", TypeInt, Node::kReadOnly | Node::kNotFinalised)
        .setStringValue("2", "default");
    PropertyNode& lockedLocal =
        property(locked, "local", TypeStringList, Node::kReadOnly | Node::kFinalised);
    lockedLocal.localise();
    lockedLocal.setListValue({"a", "b"}, "de");

    StructuralNode& hostile = group(*root, "hostile <&> \"names\"");
    property(hostile, "markup", TypeString).setStringValue("<a href=\"x&y\">]]></a>", "default");
    property(hostile, "breaks", TypeString).setStringValue("line1\nline2\r\nline3\r", "default");
    property(hostile, "tabs and blanks", TypeString).setStringValue("\t lead  trail \t", "default");
    property(hostile, "entity-like", TypeString).setStringValue("&amp; &#38; &lt;", "default");
    property(hostile, "percent %s %n", TypeString).setStringValue("100%", "default");
    property(hostile, "utf8 Grüße ✓ 😀", TypeString).setStringValue("日本語 — ümlaut", "default");
    property(hostile, "semicolons", TypeStringList).setListValue({"a;b", ";", "c|d"}, "default");
    property(hostile, "every separator", TypeStringList)
        .setListValue({";|,:#!~^+=/*@$%?`'", "x"}, "default");
    property(hostile, "items with breaks", TypeStringList)
        .setListValue({"one\ntwo", "three\tfour", " "}, "default");
    property(hostile, "line\nin name", TypeString).setStringValue("v", "default");
    PropertyNode& oddLocale = property(hostile, "odd locale", TypeString);
    oddLocale.localise();
    oddLocale.setStringValue("v", "de\"<&>\tx");
    group(*root, "empty group");
    return tree;
}

class UnserializeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        mDirectory = makeTempDirectory();
        mPath = mDirectory + "/tree.xml";
        clearLog();
    }
    void TearDown() override { removeTree(mDirectory); }

    std::string mDirectory;
    std::string mPath;
};

TEST_F(UnserializeTest, RoundTripKeepsStructureTypesValuesLocalesAndBits) {
    const std::unique_ptr<Tree> original = richTree();
    original->serialize(mPath);
    ASSERT_EQ("", loggedText());

    Tree fresh;
    fresh.unserialize(mPath);
    EXPECT_EQ(treeText(*original), treeText(fresh));

    // Into a tree that has a root: the file's tree takes its place.
    Tree loaded;
    loaded.setRoot(new StructuralNode("old"));
    loaded.unserialize(mPath);
    EXPECT_EQ(treeText(*original), treeText(loaded));
    EXPECT_EQ("", loggedText());

    // Written again, the bytes are the same.
    const std::string first = readFile(mPath);
    loaded.serialize(mPath);
    EXPECT_EQ(first, readFile(mPath));
}

TEST_F(UnserializeTest, ReviewedFilesReadBackAsTheirTrees) {
    // values.xml as built in NodeSerializeTest; a scalar without value reads
    // back as the empty text, which the format cannot tell apart.
    Tree tree;
    tree.unserialize(kData + "values.xml");
    ASSERT_NE(nullptr, tree.getRoot());
    const StructuralNode& root = *tree.getRoot()->asStructuralNode();
    const auto prop = [&](const char* name) { return root.getChild(name)->asPropertyNode(); };
    EXPECT_EQ(TypeStringList, prop("l12")->getType());
    EXPECT_EQ((std::vector<std::string>{"a b", "c"}), prop("l12")->getListValue("default"));
    EXPECT_EQ(std::vector<std::string>{"3"}, prop("l09")->getListValue("default"));
    EXPECT_EQ((std::vector<std::string>{"eins", "zwei"}), prop("loc_list")->getListValue("de"));
    EXPECT_EQ("Post", prop("loc_text")->getStringValue("de"));
    EXPECT_EQ("Mail", prop("loc_text")->getStringValue("default"));
    EXPECT_TRUE(prop("empty_list")->findBestValue("default")->isSet());
    EXPECT_TRUE(prop("empty_list")->getListValue("default").empty());
    EXPECT_EQ(std::vector<std::string>{""}, prop("empty_item")->getListValue("default"));
    EXPECT_FALSE(prop("none_list")->findBestValue("default")->isSet());
    EXPECT_TRUE(prop("none_text")->findBestValue("default")->isSet());

    Tree escaped;
    escaped.unserialize(kData + "escaped.xml");
    ASSERT_NE(nullptr, escaped.getRoot());
    EXPECT_EQ("r&\"<>", escaped.getRoot()->getName());
    const StructuralNode& top = *escaped.getRoot()->asStructuralNode();
    EXPECT_EQ("x<y & \"z\">\t1\n2\r3",
              top.getChild("text")->asPropertyNode()->getStringValue("default"));
    EXPECT_EQ((std::vector<std::string>{"a;b|c", "d"}),
              top.getChild("both")->asPropertyNode()->getListValue("default"));
    EXPECT_EQ("v", top.getChild("loc")->asPropertyNode()->getStringValue("de\"x"));

    Tree attributes;
    attributes.unserialize(kData + "attributes.xml");
    ASSERT_NE(nullptr, attributes.getRoot());
    EXPECT_EQ(Node::kReadOnly | Node::kFinalised, attributes.getRoot()->getAttributes());
    EXPECT_EQ(Node::kReadOnly | Node::kNotFinalised,
              attributes.getRoot()->asStructuralNode()->getChild("p6")->getAttributes());
    EXPECT_EQ("", loggedText());
}

TEST_F(UnserializeTest, LayerSpellingsAreUnderstoodToo) {
    writeFile(mPath,
              "<zel:component-data zel:name=\"c\"><prop zel:name=\"l\" zel:type=\"zel:int-list\" "
              "zel:finalized=\"true\"><value>1 2</value></prop>"
              "<node zel:name=\"gone\" zel:op=\"remove\"/></zel:component-data>");
    Tree tree;
    tree.unserialize(mPath);
    ASSERT_NE(nullptr, tree.getRoot());
    const Node* list = tree.getRoot()->asStructuralNode()->getChild("l");
    EXPECT_EQ(TypeIntList, list->asPropertyNode()->getType());
    EXPECT_EQ(Node::kFinalised, list->getAttributes());
    EXPECT_EQ((std::vector<std::string>{"1", "2"}), list->asPropertyNode()->getListValue("x"));
}

TEST_F(UnserializeTest, LinesLongerThanAnyBufferAreReadWhole) {
    Tree tree;
    auto* root = new StructuralNode("r");
    tree.setRoot(root);
    const std::string huge(3 * 524288 + 17, 'x');
    property(*root, "p", TypeString).setStringValue(huge, "default");
    tree.serialize(mPath);
    Tree back;
    back.unserialize(mPath);
    EXPECT_EQ(treeText(tree), treeText(back));
}

TEST_F(UnserializeTest, HeaderOnlyFileIsAnEmptyTree) {
    for (const std::string& text :
         {readFile(kData + "empty_tree.xml"), std::string("<?xml version=\"1.0\"?>\n\n  \n")}) {
        writeFile(mPath, text);
        Tree tree;
        tree.setRoot(new StructuralNode("old"));
        tree.unserialize(mPath);
        EXPECT_EQ(nullptr, tree.getRoot());
        EXPECT_EQ("", loggedText());
    }
}

int openDescriptors() {
    int count = 0;
    if (DIR* directory = ::opendir("/proc/self/fd")) {
        while (::readdir(directory)) {
            ++count;
        }
        ::closedir(directory);
    }
    return count;
}

TEST_F(UnserializeTest, BrokenFilesLeaveTheTreeAloneAndAreLoggedByName) {
    std::vector<std::string> fixtures;
    DIR* directory = ::opendir((kData + "broken").c_str());
    ASSERT_NE(nullptr, directory);
    while (const dirent* entry = ::readdir(directory)) {
        if (entry->d_name[0] != '.') {
            fixtures.push_back(kData + "broken/" + entry->d_name);
        }
    }
    ::closedir(directory);
    ASSERT_GE(fixtures.size(), 10u);
    fixtures.push_back(mDirectory + "/missing.xml");
    fixtures.push_back(mDirectory);  // a directory, not a file

    const int descriptors = openDescriptors();
    const std::unique_ptr<Tree> original = richTree();
    for (const auto& fixture : fixtures) {
        SCOPED_TRACE(fixture);
        clearLog();
        Tree tree(*original);
        tree.unserialize(fixture);
        EXPECT_EQ(treeText(*original), treeText(tree));
        ASSERT_EQ(1u, loggedMessages().size()) << loggedText();
        EXPECT_EQ(0u, loggedMessages()[0].find("Cannot read tree file " + fixture + ": "));

        Tree empty;
        empty.unserialize(fixture);
        EXPECT_EQ(nullptr, empty.getRoot());
    }
    EXPECT_EQ(descriptors, openDescriptors());
}

TEST_F(UnserializeTest, RefusedElementsOfALaterLayerKeepReadOnlyNodes) {
    // A hand-made file naming a read-only node twice: the second element is
    // refused, as a later layer's would be, and the first stays whole.
    writeFile(mPath,
              "<group zel:name=\"r\"><prop zel:name=\"p\" zel:readonly=\"true\" "
              "zel:type=\"xs:string\"><value>first</value></prop>"
              "<prop zel:name=\"p\" zel:op=\"replace\" zel:type=\"xs:int\"><value>second</value>"
              "</prop><prop zel:name=\"p\"><value>third</value></prop></group>");
    Tree tree;
    tree.unserialize(mPath);
    ASSERT_NE(nullptr, tree.getRoot());
    const PropertyNode* p = tree.getRoot()->asStructuralNode()->getChild("p")->asPropertyNode();
    EXPECT_EQ(TypeString, p->getType());
    EXPECT_EQ("first", p->getStringValue("default"));
    EXPECT_EQ(Node::kReadOnly, p->getAttributes());
}

}  // namespace
