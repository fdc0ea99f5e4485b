// SPDX-License-Identifier: LGPL-2.1-or-later
// Stacks of layers merged into one tree: precedence, finalisation, broken layers, locales.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "LayerTestSupport.h"
#include "layers/Finaliser.h"
#include "layers/NodeAttributeChanger.h"
#include "layers/TreeMerger.h"
#include "model/PropertyNode.h"

namespace vesk::legacy::test {
namespace {

std::unique_ptr<Tree> mergeAll(const std::vector<std::string>& layers) {
    TreeMerger merger;
    for (const std::string& xml : layers) {
        merger.merge(layerOf(xml));
    }
    return merger.takeTree();
}

std::string valueOf(const Tree* tree, const std::string& path, const char* locale = "default") {
    Node* node = find(tree, path);
    PropertyNode* property = node != nullptr ? node->asPropertyNode() : nullptr;
    return property != nullptr ? property->getStringValue(locale) : "<none>";
}

int bitsOf(const Tree* tree, const std::string& path) {
    Node* node = find(tree, path);
    return node != nullptr ? node->getAttributes() : -1;
}

TEST(Merger, FinalisedGroupProtectsWhatItHeldAndWhatItDeclaredButTakesNewChildren) {
    const std::string layer1 =
        R"(<group><node zel:name="g"><prop zel:name="old"><value>1</value></prop></node>
           <node zel:name="g" zel:finalized="true"><node zel:name="h"><prop zel:name="deep">
           <value>2</value></prop></node><prop zel:name="new"><value>3</value></prop></node>
           <node zel:name="g"><prop zel:name="old"><value>4</value></prop></node>
           <node zel:name="free"><prop zel:name="q"><value>6</value></prop></node>
           <prop zel:name="p" zel:finalized="true"><value>x</value></prop></group>)";
    const std::string attack =
        R"(<group><node zel:name="g"><prop zel:name="old"><value>X</value></prop>
           <prop zel:name="new" zel:op="replace"><value>X</value></prop>
           <node zel:name="h"><prop zel:name="deep" zel:op="remove"/></node>
           <prop zel:name="added"><value>5</value></prop></node>
           <prop zel:name="p" zel:op="replace" zel:type="xs:int"><value>y</value></prop></group>)";
    auto tree = mergeAll({layer1, attack});
    EXPECT_EQ(valueOf(tree.get(), "g/old"), "4") << "the finalising layer may still change it";
    EXPECT_EQ(valueOf(tree.get(), "g/new"), "3");
    EXPECT_EQ(valueOf(tree.get(), "g/h/deep"), "2");
    EXPECT_EQ(valueOf(tree.get(), "g/added"), "5");
    EXPECT_EQ(bitsOf(tree.get(), "g/h/deep"), Node::kReadOnly);
    EXPECT_EQ(bitsOf(tree.get(), "g/added"), 0);
    EXPECT_EQ(valueOf(tree.get(), "p"), "x");
    EXPECT_EQ(find(tree.get(), "p")->asPropertyNode()->getType(), TypeString);

    for (const char* removal : {R"(<group><node zel:name="g" zel:op="remove"/></group>)",
                                R"(<group><node zel:name="g" zel:op="replace"/></group>)"}) {
        auto kept = mergeAll({layer1, removal, attack});
        EXPECT_EQ(valueOf(kept.get(), "g/new"), "3") << removal;
        EXPECT_EQ(bitsOf(kept.get(), "g"), Node::kReadOnly) << "stays read-only";
    }
    // Nothing follows the last layer, so its finalisation stays bit 1.
    auto last = mergeAll({attack, layer1});
    EXPECT_EQ(bitsOf(last.get(), "g"), Node::kFinalised);
    EXPECT_EQ(bitsOf(last.get(), "g/new"), Node::kFinalised);
    EXPECT_EQ(bitsOf(last.get(), "g/added"), Node::kFinalised);
    EXPECT_EQ(bitsOf(last.get(), "free/q"), 0) << "made after the finalised group closed";
}

// A lock deep in a group holds against later layers that replace or remove
// the group itself: everything else goes, the locked node and its way stay.
TEST(Merger, LocksBelowAReplacedOrRemovedGroupStay) {
    const std::string locking =
        R"(<group><node zel:name="g"><prop zel:name="free"><value>1</value></prop>
           <node zel:name="h"><prop zel:name="locked" zel:finalized="true"><value>2</value>
           </prop><prop zel:name="loose"><value>3</value></prop></node></node></group>)";
    const struct {
        const char *layer, *free, *loose, *added;  // values afterwards
    } cases[] = {
        {R"(<group><node zel:name="g" zel:op="replace"><prop zel:name="added"><value>4</value>
            </prop></node></group>)",
         "<none>", "<none>", "4"},
        {R"(<group><node zel:name="g" zel:op="remove"/></group>)", "<none>", "<none>", "<none>"},
        // What a layer adds after pruning a group, at any depth, goes when it prunes again.
        {R"(<group><node zel:name="g" zel:op="remove"/><node zel:name="g"><prop zel:name="added">
            <value>4</value></prop><node zel:name="h"><prop zel:name="loose"><value>9</value>
            </prop></node></node><node zel:name="g" zel:op="remove"/></group>)",
         "<none>", "<none>", "<none>"},
        {R"(<group><node zel:name="g" zel:op="remove"/><node zel:name="g" zel:op="replace"/>
            <node zel:name="g"><node zel:name="h"><prop zel:name="loose"><value>9</value></prop>
            </node><prop zel:name="added"><value>4</value></prop></node></group>)",
         "<none>", "9", "4"},
        {R"(<group zel:op="replace"/>)", "<none>", "<none>", "<none>"},
        // A property could hold nothing: that replace is refused.
        {R"(<group><prop zel:name="g" zel:op="replace"><value>5</value></prop></group>)", "1", "3",
         "<none>"},
    };
    for (const auto& test : cases) {
        auto tree = mergeAll({locking, test.layer});
        EXPECT_EQ(valueOf(tree.get(), "g/h/locked"), "2") << test.layer;
        EXPECT_EQ(bitsOf(tree.get(), "g/h/locked"), Node::kReadOnly) << test.layer;
        EXPECT_EQ(valueOf(tree.get(), "g/h/loose"), test.loose) << test.layer;
        EXPECT_EQ(valueOf(tree.get(), "g/free"), test.free) << test.layer;
        EXPECT_EQ(valueOf(tree.get(), "g/added"), test.added) << test.layer;
    }
}

TEST(Merger, FirstLayerRemovingTheRootLeavesAnEmptyTreeThatALaterLayerFills) {
    TreeMerger merger;
    EXPECT_EQ(merger.getTree(), nullptr) << "no layers, no tree";
    merger.merge(layerOf(R"(<group zel:op="remove"><node zel:name="a"/></group>)"));
    std::unique_ptr<Tree> tree(merger.getTree());
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->getRoot(), nullptr);
    merger.merge(layerOf(R"(<zel:component-data zel:name="new"><node zel:name="a"/>
                            </zel:component-data>)"));
    ASSERT_NE(tree->getRoot(), nullptr);
    EXPECT_EQ(tree->getRoot()->getName(), "new");
    EXPECT_NE(find(tree.get(), "a"), nullptr);
}

TEST(Merger, BrokenLayerKeepsWhatItBuiltAndTheNextLayerStartsAtTheRoot) {
    auto tree = mergeAll({
        R"(<group><node zel:name="a"><node zel:name="b"><prop zel:name="p"><value>1</value></prop>)",
        fixture("truncated_layer.xml"),
        R"(<group><node zel:name="top"/><prop zel:name="p"><value>2</value></prop></group>)",
    });
    ASSERT_NE(tree, nullptr) << "a first layer that broke off still yields its root";
    EXPECT_EQ(valueOf(tree.get(), "a/b/p"), "1");
    EXPECT_EQ(valueOf(tree.get(), "startup_list/command"), "run");
    EXPECT_NE(find(tree.get(), "top"), nullptr);
    EXPECT_EQ(valueOf(tree.get(), "p"), "2");
    EXPECT_EQ(find(tree.get(), "startup_list/args/top"), nullptr);
}

TEST(Merger, LocalisedValuesFromTwoLayers) {
    auto tree = mergeAll({
        R"(<group><prop zel:name="name"><value>Mail</value><value xml:lang="de">Post</value></prop>
           <prop zel:name="only"><value xml:lang="fr">Seul</value></prop>
           <prop zel:name="plain"><value xml:lang="">a</value></prop>
           <prop zel:name="list" zel:type="zel:string-list"><value xml:lang="de">a b</value></prop>
           </group>)",
        R"(<group><prop zel:name="name"><value xml:lang="fr">Courrier</value><value>Letters</value>
           </prop><prop zel:name="plain"><value>b</value></prop></group>)",
    });
    auto locales = [&](const std::string& path) {
        std::vector<std::string> all;
        find(tree.get(), path)->asPropertyNode()->getLocales(all);
        return all;
    };
    EXPECT_EQ(locales("name"), (std::vector<std::string>{"de", "default", "fr"}));
    EXPECT_EQ(valueOf(tree.get(), "name", "de"), "Post");
    EXPECT_EQ(valueOf(tree.get(), "name", "fr"), "Courrier");
    EXPECT_EQ(valueOf(tree.get(), "name"), "Letters");
    EXPECT_EQ(locales("only"), std::vector<std::string>{"fr"});
    EXPECT_EQ(locales("plain"), std::vector<std::string>{"default"});
    EXPECT_EQ(valueOf(tree.get(), "plain", "xx"), "b") << "no locale: one value, last wins";
    EXPECT_EQ(find(tree.get(), "list")->asPropertyNode()->getListValue("de"),
              (std::vector<std::string>{"a", "b"}));
}

// Groups small and past the switch of their children to a balanced tree; the
// later layer's outermost element addresses the root under another name.
// Replaced nodes go with their subtrees (sanitizer build).
TEST(Merger, LaterLayersModifyReplaceRemoveAndAddInSmallAndLargeGroups) {
    for (int count : {10, 40}) {
        std::string first = "<zel:component-data zel:name='r'><node zel:name='g'>";
        for (int i = 0; i < count; ++i) {
            first += "<node zel:name='n" + std::to_string(i) + "'><prop zel:name='p'><value>" +
                     std::to_string(i) + "</value></prop></node>";
        }
        first += "</node></zel:component-data>";
        auto tree = mergeAll({first, R"(<group zel:name="other"><node zel:name="g">
              <node zel:name="n1" zel:op="replace"><prop zel:name="q"><value>new</value></prop></node>
              <node zel:name="n2" zel:op="remove"/><node zel:name="nothing" zel:op="remove"/>
              <prop zel:name="n3" zel:op="replace"><value>kind</value></prop>
              <node zel:name="n4"><prop zel:name="p"><value>changed</value></prop></node>
              <prop zel:name="n5"><value>ignored</value></prop>
              <node zel:name="n6"><prop zel:name="p"/></node>
              <node zel:name="n7"><prop zel:name="p" zel:op="replace"/></node>
              <node zel:name="n8"><prop zel:name="p" zel:op="remove"><value>lost</value></prop></node>
              <node zel:name="x"><prop zel:name="p"><value>added</value></prop></node>
              </node><value>stray</value></group>)"});
        const std::string what = std::to_string(count) + " children";
        EXPECT_EQ(tree->getRoot()->getName(), "r") << what;
        EXPECT_EQ(find(tree.get(), "g/n1/p"), nullptr) << what;
        EXPECT_EQ(valueOf(tree.get(), "g/n1/q"), "new") << what;
        EXPECT_EQ(find(tree.get(), "g/n2"), nullptr) << what;
        EXPECT_EQ(valueOf(tree.get(), "g/n3"), "kind") << "no lock below: replaced";
        EXPECT_EQ(valueOf(tree.get(), "g/n4/p"), "changed") << what;
        EXPECT_EQ(valueOf(tree.get(), "g/n5/p"), "5") << "a modify keeps the kind";
        EXPECT_EQ(valueOf(tree.get(), "g/n6/p"), "6") << what;
        EXPECT_EQ(valueOf(tree.get(), "g/n7/p"), "") << what;
        EXPECT_EQ(find(tree.get(), "g/n8/p"), nullptr) << what;
        EXPECT_EQ(valueOf(tree.get(), "g/x/p"), "added") << what;
        std::vector<std::string> names;
        find(tree.get(), "g")->asStructuralNode()->getChildren(names);
        EXPECT_EQ(names.size(), static_cast<size_t>(count)) << what;  // n2 gone, x new
        EXPECT_TRUE(std::is_sorted(names.begin(), names.end())) << what;

        TreeMerger merger;
        merger.merge(layerOf(first));
        merger.merge(layerOf("<group zel:name='s' zel:op='replace'><node zel:name='x'/></group>"));
        std::unique_ptr<Tree> replaced(merger.getTree());
        EXPECT_EQ(replaced->getRoot()->getName(), "s") << what;
        EXPECT_EQ(find(replaced.get(), "g"), nullptr) << what;
        EXPECT_NE(find(replaced.get(), "x"), nullptr) << what;
    }
}

// A layer that plays some events and then fails, as a policy filter might.
struct FailingLayer : IUpdateLayer {
    void read(ITreeHandler& handler) const override {
        handler.startTree();
        handler.modifyNode("root", 0);
        handler.modifyNode("open", 0);
        throw Exception("filter failed");
    }
};

TEST(Merger, ExceptionFromALayerStillClosesItsEntries) {
    TreeMerger merger;
    EXPECT_THROW(merger.merge(FailingLayer()), Exception);
    merger.merge(layerOf(R"(<group><node zel:name="later"/></group>)"));
    std::unique_ptr<Tree> tree(merger.getTree());
    EXPECT_NE(find(tree.get(), "later"), nullptr);
    EXPECT_EQ(find(tree.get(), "open/later"), nullptr);

    // Read without merge and abandoned: the merger frees the root nobody took.
    TreeMerger abandoned;
    layerOf("<group><node zel:name='a'>").read(abandoned);
    EXPECT_EQ(abandoned.getTree(), nullptr);
    EXPECT_EQ(abandoned.takeTree(), nullptr);

    // Taken while a read left entries open: they go with the tree, and the
    // merger frees none of them again.
    TreeMerger taken;
    taken.merge(layerOf("<group><node zel:name='a'/></group>"));
    layerOf("<group><node zel:name='b'>").read(taken);
    const std::unique_ptr<Tree> owned = taken.takeTree();
    EXPECT_EQ(taken.getTree(), nullptr);
    EXPECT_NE(find(owned.get(), "b"), nullptr);
}

TEST(Visitors, FinaliserAndChangerBits) {
    const int kCases[][2] = {{1, 4}, {2, 0}, {2 | 4, 0}, {1 | 4, 4}, {4, 4}, {0, 0}};
    for (const auto& c : kCases) {
        StructuralNode node("n");
        node.setAttributes(c[0]);
        Finaliser finaliser;
        node.visit(finaliser);
        EXPECT_EQ(node.getAttributes() & 7, c[1] & 7) << c[0];
    }
    StructuralNode group("g");
    auto* locked = new StructuralNode("locked");
    locked->setAttributes(Node::kReadOnly);
    auto* inner = new PropertyNode("inner", TypeString);
    locked->adoptChild(*inner);
    auto* text = new PropertyNode("text", TypeString);
    text->setStringValue("x", "default");
    group.adoptChild(*locked);
    group.adoptChild(*text);
    NodeAttributeChanger changer(Node::kFinalised | Node::kLocalised);
    group.visit(changer);
    EXPECT_EQ(group.getAttributes(), Node::kFinalised) << "bit 8 never reaches a group";
    EXPECT_EQ(text->getAttributes(), Node::kFinalised) << "bit 8 dropped for the walk";
    EXPECT_EQ(inner->getAttributes(), 0) << "read-only subtree skipped";
}

}  // namespace
}  // namespace vesk::legacy::test
