// The invariant of the comparison: the events new.substract(old) sends, played
// into a merger over a copy of the old tree, give the new tree (names, kinds,
// types, values per locale). Checked on generated pairs with a fixed seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <sstream>

#include "change/TreeComparator.h"
#include "layers/IUpdateLayer.h"
#include "layers/TreeMerger.h"
#include "model/NodeVisitor.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

using namespace vesk::legacy;

namespace {

// Names may hold a slash or differ only in case; each name has one property
// type, since a type change with the same text is by design no change.
const char* const kNames[] = {"a", "b", "c", "B", "d/e", "f"};
const PropertyType kTypes[] = {TypeString, TypeStringList, TypeInt,
                               TypeString, TypeStringList, TypeBoolean};
const char* const kLocales[] = {"default", "de", "fr"};
const char* const kTexts[] = {"", "x", "y", "x y"};

class Generator {
  public:
    explicit Generator(std::uint32_t seed) : mRandom(seed) {}

    std::uint32_t below(std::uint32_t n) { return mRandom() % n; }
    bool chance(std::uint32_t percent) { return below(100) < percent; }

    int protection() {
        const int choices[] = {
            0, 0, 0, Node::kFinalised, Node::kReadOnly, Node::kReadOnly | Node::kNotFinalised};
        return choices[below(6)];
    }

    // allowBare: a localised property without any locale, which no layer can
    // build and which therefore only the new side may hold.
    Node* property(std::size_t index, bool allowBare) {
        auto* node = new PropertyNode(kNames[index], kTypes[index]);
        node->setAttributes(protection());
        const int form = below(10);
        if (form < 6) {
            if (form > 0) {
                setValue(*node, "default");
            }
        } else if (form < 9 || !allowBare) {
            node->localise();
            for (const char* locale : kLocales) {
                if (chance(60)) {
                    setValue(*node, locale);
                }
            }
            if (node->getLocales(mScratch), mScratch.empty()) {
                setValue(*node, "de");
            }
            mScratch.clear();
        } else {
            node->localise();
        }
        return node;
    }

    Node* group(const std::string& name, int depth, bool allowBare) {
        auto* node = new StructuralNode(name);
        node->setAttributes(protection());
        const int children = depth >= 4 ? 0 : 1 + below(5);
        for (int i = 0; i < children; ++i) {
            const std::size_t index = below(6);
            if (node->getChild(kNames[index])) {
                continue;
            }
            node->adoptChild(*child(index, depth + 1, allowBare));
        }
        return node;
    }

    Node* child(std::size_t index, int depth, bool allowBare) {
        return chance(50) ? group(kNames[index], depth, allowBare) : property(index, allowBare);
    }

    // Changes a copy of the old tree here and there; most of it stays equal,
    // so held-back openings are exercised as much as changes.
    void mutate(StructuralNode& node, int depth) {
        if (chance(15)) {
            node.setAttributes(protection());
        }
        for (std::size_t index = 0; index < 6; ++index) {
            Node* existing = node.getChild(kNames[index]);
            if (!existing) {
                if (chance(10)) {
                    node.adoptChild(*child(index, depth + 1, true));
                }
                continue;
            }
            const int roll = below(100);
            if (roll < 8) {  // removed
                node.removeChild(kNames[index]);
                delete existing;
            } else if (roll < 20) {  // replaced, possibly by the other kind
                node.removeChild(kNames[index]);
                delete existing;
                node.adoptChild(*child(index, depth + 1, true));
            } else if (StructuralNode* group = existing->asStructuralNode()) {
                mutate(*group, depth + 1);
            } else if (roll < 30) {
                existing->setAttributes(protection());
            }
        }
    }

  private:
    void setValue(PropertyNode& node, const std::string& locale) {
        if (node.isList()) {
            std::vector<std::string> items;
            for (std::uint32_t n = below(4); n > 0; --n) {
                items.push_back(kTexts[below(4)]);
            }
            node.setListValue(items, locale);
        } else {
            node.setStringValue(kTexts[below(4)], locale);
        }
    }

    std::mt19937 mRandom;
    std::vector<std::string> mScratch;
};

// Plays a tree as one layer that builds it from nothing (unprotected), so a
// merger starts from a copy of it.
class TreeLayer : public IUpdateLayer, private NodeVisitor {
  public:
    explicit TreeLayer(const Tree& tree) : mTree(tree) {}
    virtual ~TreeLayer() = default;

    void read(ITreeHandler& handler) const override {
        auto* self = const_cast<TreeLayer*>(this);
        self->mHandler = &handler;
        handler.startTree();
        if (mTree.getRoot()) {
            mTree.getRoot()->visit(*self);
        }
        handler.endTree();
    }

  private:
    bool preChildrenProcess(Node& node) override {
        const PropertyNode* property = node.asPropertyNode();
        if (!property) {
            mHandler->replaceNode(node.getName(), 0);
            return true;
        }
        mHandler->replaceProperty(node.getName(), property->getType(), 0);
        std::vector<std::string> locales;
        property->getLocales(locales);
        for (const auto& locale : locales) {
            // Without localisation the one value is set with no locale.
            const std::string& key = property->isLocalised() ? locale : std::string();
            if (!property->isLocalised() && !property->findBestValue(locale)->isSet()) {
                continue;
            }
            if (property->isList()) {
                mHandler->setListValue(property->getListValue(locale), key);
            } else {
                mHandler->setStringValue(property->getStringValue(locale), key);
            }
        }
        return true;
    }
    bool postChildrenProcess(Node&) override {
        mHandler->endNode();
        return true;
    }

    const Tree& mTree;
    ITreeHandler* mHandler = nullptr;
};

// Records the events of a comparison, checks they nest properly, and plays
// them back as a layer.
class EventLog : public ITreeHandler, public IUpdateLayer {
  public:
    using Event = std::function<void(ITreeHandler&)>;

    void startTree() override {
        add([](ITreeHandler& h) { h.startTree(); });
    }
    void endTree() override {
        EXPECT_EQ(mDepth, 0);
        add([](ITreeHandler& h) { h.endTree(); });
    }
    void modifyNode(const std::string& n, int a) override {
        open([=](ITreeHandler& h) { h.modifyNode(n, a); });
    }
    void replaceNode(const std::string& n, int a) override {
        open([=](ITreeHandler& h) { h.replaceNode(n, a); });
    }
    void removeNode(const std::string& n) override {
        open([=](ITreeHandler& h) { h.removeNode(n); });
    }
    void endNode() override {
        close([](ITreeHandler& h) { h.endNode(); });
    }
    void modifyProperty(const std::string& n, PropertyType t, int a) override {
        open([=](ITreeHandler& h) { h.modifyProperty(n, t, a); });
    }
    void replaceProperty(const std::string& n, PropertyType t, int a) override {
        open([=](ITreeHandler& h) { h.replaceProperty(n, t, a); });
    }
    void endProperty() override {
        close([](ITreeHandler& h) { h.endProperty(); });
    }
    void setStringValue(const std::string& v, const std::string& l) override {
        add([=](ITreeHandler& h) { h.setStringValue(v, l); });
    }
    void setListValue(const std::vector<std::string>& v, const std::string& l) override {
        add([=](ITreeHandler& h) { h.setListValue(v, l); });
    }
    void addListValues(const std::vector<std::string>&, const std::string&) override {
        ADD_FAILURE() << "the comparison never appends";
    }

    void read(ITreeHandler& handler) const override {
        for (const Event& event : mEvents) {
            event(handler);
        }
    }
    std::size_t size() const { return mEvents.size(); }

  private:
    void add(Event event) { mEvents.push_back(std::move(event)); }
    void open(Event event) {
        ++mDepth;
        add(std::move(event));
    }
    void close(Event event) {
        EXPECT_GT(mDepth, 0);
        --mDepth;
        add(std::move(event));
    }

    std::vector<Event> mEvents;
    int mDepth = 0;
};

// Describes where two trees differ in what the invariant covers. A locale of
// the result that the expected tree lacks is allowed when the old tree had it
// there: no layer event takes a single locale away, so the comparison cannot
// either (it opens the property, which listeners hear as a change).
void compareNodes(const Node* result, const Node* expected, const Node* old,
                  const std::string& where, std::ostringstream& out) {
    if (!result || !expected) {
        if (result || expected) {
            out << where << ": only in " << (result ? "result" : "expected") << "\n";
        }
        return;
    }
    if (result->getName() != expected->getName()) {
        out << where << ": name " << result->getName() << "\n";
    }
    const StructuralNode* resultGroup = result->asStructuralNode();
    const StructuralNode* expectedGroup = expected->asStructuralNode();
    if (!resultGroup != !expectedGroup) {
        out << where << ": kind\n";
        return;
    }
    if (resultGroup) {
        std::vector<std::string> names;
        resultGroup->getChildren(names);
        expectedGroup->getChildren(names);
        std::sort(names.begin(), names.end());
        names.erase(std::unique(names.begin(), names.end()), names.end());
        const StructuralNode* oldGroup = old ? old->asStructuralNode() : nullptr;
        for (const auto& name : names) {
            compareNodes(resultGroup->getChild(name), expectedGroup->getChild(name),
                         oldGroup ? oldGroup->getChild(name) : nullptr, where + "/" + name, out);
        }
        return;
    }
    const PropertyNode& r = *result->asPropertyNode();
    const PropertyNode& e = *expected->asPropertyNode();
    const PropertyNode* o = old ? old->asPropertyNode() : nullptr;
    if (r.getType() != e.getType()) {
        out << where << ": type\n";
        return;
    }
    std::vector<std::string> resultLocales, expectedLocales, oldLocales;
    r.getLocales(resultLocales);
    e.getLocales(expectedLocales);
    if (o) {
        o->getLocales(oldLocales);
    }
    for (const auto& locale : resultLocales) {
        const bool expectedHas = std::count(expectedLocales.begin(), expectedLocales.end(), locale);
        const bool oldHad = std::count(oldLocales.begin(), oldLocales.end(), locale);
        // A localised property without any locale reads back as one without
        // a value: no event can localise a property that holds none.
        const bool bare = expectedLocales.empty() && !r.findBestValue(locale)->isSet();
        if (!expectedHas && !oldHad && !bare) {
            out << where << ": extra locale " << locale << "\n";
        }
    }
    for (const auto& locale : expectedLocales) {
        if (!std::count(resultLocales.begin(), resultLocales.end(), locale)) {
            out << where << ": missing locale " << locale << "\n";
        } else if (e.isList() ? !areListsEqual(r.getListValue(locale), e.getListValue(locale))
                              : r.getStringValue(locale) != e.getStringValue(locale)) {
            out << where << ": value of " << locale << "\n";
        }
    }
}

TEST(ReplayInvariantTest, ReplayingTheDifferenceGivesTheNewTree) {
    Generator generate(20261207);
    std::size_t events = 0;
    for (int pair = 0; pair < 400; ++pair) {
        Tree oldTree;
        if (pair % 50 != 0) {
            oldTree.setRoot(generate.group("root", 0, false));
        }
        Tree newTree;
        if (pair % 50 == 0 || pair % 50 == 1) {
            newTree.setRoot(generate.group("root", 0, true));  // against or as an empty tree
        } else if (pair % 50 != 2) {
            newTree.setRoot(oldTree.getRoot()->clone(true));
            generate.mutate(*newTree.getRoot()->asStructuralNode(), 0);
        }

        TreeMerger merger;
        merger.merge(TreeLayer(oldTree));
        std::unique_ptr<Tree> result(merger.getTree());
        std::ostringstream seeded;
        compareNodes(result ? result->getRoot() : nullptr, oldTree.getRoot(), nullptr, "root",
                     seeded);
        ASSERT_EQ(seeded.str(), "") << "pair " << pair << ": the copy of the old tree";

        EventLog log;
        newTree.substract(oldTree, log);
        events += log.size();
        merger.merge(log);
        if (!result) {
            result.reset(merger.getTree());
        }
        std::ostringstream differences;
        compareNodes(result ? result->getRoot() : nullptr, newTree.getRoot(), oldTree.getRoot(),
                     "root", differences);
        ASSERT_EQ(differences.str(), "") << "pair " << pair;
    }
    // Guards against a generator that stopped producing differences.
    EXPECT_GT(events, 400u * 20);
}

}  // namespace
