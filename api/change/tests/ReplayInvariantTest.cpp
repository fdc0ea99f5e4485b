// SPDX-License-Identifier: LGPL-2.1-or-later
// The invariant of the comparison: the events new.substract(old) sends, played
// into a merger over a copy of the old tree, give the new tree (names, kinds,
// types, values per locale). Checked on generated pairs with a fixed seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "TestTrees.h"
#include "change/TreeComparator.h"
#include "layers/TreeMerger.h"

using namespace vesk::legacy;
using namespace vesk::legacy::testing;

namespace {

// Names may hold a slash or differ only in case. Each name keeps one property
// type, since a type change with the same text is by design no change.
const std::pair<const char*, PropertyType> kNames[] = {
    {"a", TypeString}, {"b", TypeStringList},   {"c", TypeInt},
    {"B", TypeString}, {"d/e", TypeStringList}, {"f", TypeBoolean}};
const char* const kLocales[] = {"default", "de", "fr"};
const char* const kTexts[] = {"", "x", "y", "x y"};

class Generator {
  public:
    explicit Generator(std::uint32_t seed) : mRandom(seed) {}

    // A property half the time, unless asGroup. Values unset, one value, or
    // localised; a localised property without any locale is left to the new
    // side (bare): no layer can build one.
    Node* child(std::size_t index, int depth, bool bare, bool asGroup = false) {
        if (!asGroup && below(2) == 0) {
            auto* node = new PropertyNode(kNames[index].first, kNames[index].second);
            node->setAttributes(protection());
            const std::uint32_t form = below(10);
            if (form > 0 && form < 6) {
                setValue(*node, "default");
            } else if (form >= 6) {
                node->localise();
                for (const char* locale : kLocales) {
                    if (below(10) < 6 || (form < 9 && !bare && locale == kLocales[2])) {
                        setValue(*node, locale);
                    }
                }
            }
            return node;
        }
        auto* node = new StructuralNode(kNames[index].first);
        node->setAttributes(protection());
        for (std::uint32_t n = depth >= 4 ? 0 : 1 + below(5); n > 0; --n) {
            const std::size_t i = below(6);
            if (!node->getChild(kNames[i].first)) {
                node->adoptChild(*child(i, depth + 1, bare));
            }
        }
        return node;
    }

    // Mostly keeps what is there, so held-back openings get exercised too.
    void mutate(StructuralNode& node, int depth) {
        if (below(100) < 15) {
            node.setAttributes(protection());
        }
        for (std::size_t index = 0; index < 6; ++index) {
            Node* existing = node.getChild(kNames[index].first);
            const std::uint32_t roll = below(100);
            if (!existing || roll < 20) {  // added, removed or replaced (kind may change)
                if (existing) {
                    node.removeChild(kNames[index].first);
                    delete existing;
                }
                if (existing ? roll >= 8 : roll < 10) {
                    node.adoptChild(*child(index, depth + 1, true));
                }
            } else if (StructuralNode* group = existing->asStructuralNode()) {
                mutate(*group, depth + 1);
            } else if (roll < 30) {
                existing->setAttributes(protection());
            }
        }
    }

  private:
    std::uint32_t below(std::uint32_t n) { return mRandom() % n; }
    int protection() {
        const int choices[] = {
            0, 0, 0, Node::kFinalised, Node::kReadOnly, Node::kReadOnly | Node::kNotFinalised};
        return choices[below(6)];
    }
    void setValue(PropertyNode& node, const std::string& locale) {
        std::vector<std::string> items;
        for (std::uint32_t n = below(4); n > 0; --n) {
            items.push_back(kTexts[below(4)]);
        }
        node.setListValue(items, locale);
        node.setStringValue(kTexts[below(4)], locale);  // one of the two applies
    }

    std::mt19937 mRandom;
};

bool has(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// Where two trees differ in what the invariant covers. A locale of the result
// that the expected tree lacks is allowed when the old tree had it: no layer
// event takes a single locale away (the property is still announced).
void compareNodes(const Node* result, const Node* expected, const Node* old,
                  const std::string& where, std::ostringstream& out) {
    if (!result || !expected) {
        out << (result || expected ? where + ": only on one side\n" : "");
        return;
    }
    const StructuralNode* group = result->asStructuralNode();
    if (result->getName() != expected->getName() || !group != !expected->asStructuralNode()) {
        out << where << ": name or kind\n";
    } else if (group) {
        std::vector<std::string> names;
        group->getChildren(names);
        expected->asStructuralNode()->getChildren(names);
        const StructuralNode* oldGroup = old ? old->asStructuralNode() : nullptr;
        for (const auto& name : names) {
            compareNodes(group->getChild(name), expected->asStructuralNode()->getChild(name),
                         oldGroup ? oldGroup->getChild(name) : nullptr, where + "/" + name, out);
        }
    } else {
        const PropertyNode& r = *result->asPropertyNode();
        const PropertyNode& e = *expected->asPropertyNode();
        std::vector<std::string> resultLocales, expectedLocales, oldLocales;
        r.getLocales(resultLocales);
        e.getLocales(expectedLocales);
        if (old && old->asPropertyNode()) {
            old->asPropertyNode()->getLocales(oldLocales);
        }
        for (const auto& locale : resultLocales) {
            // A bare localised property reads back as one without a value.
            const bool bare = expectedLocales.empty() && !r.findBestValue(locale)->isSet();
            if (!has(expectedLocales, locale) && !has(oldLocales, locale) && !bare) {
                out << where << ": extra locale " << locale << "\n";
            }
        }
        for (const auto& locale : expectedLocales) {
            if (r.getType() != e.getType() || !has(resultLocales, locale) ||
                r.getStringValue(locale) != e.getStringValue(locale) ||
                !areListsEqual(r.getListValue(locale), e.getListValue(locale))) {
                out << where << ": type or value of " << locale << "\n";
            }
        }
    }
}

std::string differences(const Tree* result, const Tree& expected, const Tree* old) {
    std::ostringstream out;
    compareNodes(result ? result->getRoot() : nullptr, expected.getRoot(),
                 old ? old->getRoot() : nullptr, "", out);
    return out.str();
}

TEST(ReplayInvariantTest, ReplayingTheDifferenceGivesTheNewTree) {
    Generator generate(20261207);
    std::size_t events = 0;
    for (int pair = 0; pair < 400; ++pair) {
        // In every fifty pairs: one from an empty tree, one against an
        // unrelated tree, one that empties the tree, one from a property root.
        Tree oldTree, newTree;
        if (pair % 50 != 0) {
            oldTree.setRoot(generate.child(0, 0, false, pair % 50 != 49));
        }
        if (pair % 50 < 2 || pair % 50 == 49) {
            newTree.setRoot(generate.child(0, 0, true, true));
        } else if (pair % 50 != 2) {
            newTree.setRoot(oldTree.getRoot()->clone(true));
            generate.mutate(*newTree.getRoot()->asStructuralNode(), 0);
        }

        // The copy of the old tree is built by the comparison against an
        // empty tree, unprotected so that the difference can change it all.
        TreeMerger merger;
        EventLog seed(Node::kLocalised), difference;
        oldTree.substract(Tree(), seed);
        merger.merge(seed);
        std::unique_ptr<Tree> result(merger.getTree());
        // The merger makes no property a root, so a property root is only
        // compared against: the difference then builds the new tree anew.
        if (!oldTree.getRoot() || oldTree.getRoot()->asStructuralNode()) {
            ASSERT_EQ(differences(result.get(), oldTree, nullptr), "") << pair << ": the old tree";
        }

        newTree.substract(oldTree, difference);
        events += difference.lines.size();
        merger.merge(difference);
        if (!result) {
            result.reset(merger.getTree());
        }
        ASSERT_EQ(differences(result.get(), newTree, &oldTree), "") << "pair " << pair;
    }
    EXPECT_GT(events, 400u * 20);  // the generator still makes differences
}

}  // namespace
