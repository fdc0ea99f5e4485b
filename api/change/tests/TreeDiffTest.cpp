// SPDX-License-Identifier: LGPL-2.1-or-later
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "SyslogSeam.h"
#include "TestTrees.h"
#include "change/DiffListener.h"
#include "change/INodeListener.h"
#include "change/TreeDiff.h"
#include "model/Exception.h"

using namespace vesk::legacy;
using namespace vesk::legacy::testing;

namespace {

// Records "<id> <added|removed|changed> <component><path>" and "<id> complete"
// into a shared log, and the names of each path, and runs an optional action
// during each call.
class Recorder : public INodeListener {
  public:
    Recorder(const std::string& id, Lines& calls) : mId(id), mCalls(calls) {}
    std::function<void(const NodePath&)> during = [](const NodePath&) {};
    std::function<void()> atEnd = [] {};
    std::vector<Lines> names;

    void onNodeAdded(const NodePath& path) override { record("added", path); }
    void onNodeRemoved(const NodePath& path) override { record("removed", path); }
    void onNodeChanged(const NodePath& path) override { record("changed", path); }
    void onChangeComplete() override {
        mCalls.push_back(mId + " complete");
        atEnd();
    }

  private:
    void record(const char* what, const NodePath& path) {
        mCalls.push_back(mId + " " + what + " " + path.getComponent() + path.getPath());
        names.push_back(path.getNames());
        during(path);
    }
    std::string mId;
    Lines& mCalls;
};

NodePath at(const std::string& text) {
    NodePath path;
    path.setPath(text);
    return path;
}

class TreeDiffTest : public ::testing::Test {
  protected:
    void notify(Node* oldRoot, Node* newRoot) {
        auto oldTree = tree(oldRoot);
        TreeDiff diff("comp", &registry, oldTree.get());
        tree(newRoot)->substract(*oldTree, diff);
    }
    Lines calls;
    DiffListener registry{"comp"};
    Recorder top{"top", calls}, a{"a", calls}, third{"third", calls};
};

// Each notified listener completes once per change, after all node calls, in
// the order of its first call.
TEST_F(TreeDiffTest, CallsTheConcernedListenersInPostOrder) {
    const struct {
        const char* title;
        std::vector<std::pair<const char*, const char*>> listeners;  // id, registered path
        std::shared_ptr<Tree> oldTree, newTree;
        Lines expected;
    } cases[] = {
        {"a changed property reaches the listeners of its ancestors, children first",
         {{"a", "comp/a"}, {"top", "comp"}},
         tree(group("r", {group("a", {group("b", {text("p", "1")})})})),
         tree(group("r", {group("a", {group("b", {text("p", "2")})})})),
         {"top changed comp/a/b/p", "a changed comp/a/b/p", "top changed comp/a/b",
          "a changed comp/a/b", "top changed comp/a", "a changed comp/a", "top changed comp",
          "top complete", "a complete"}},
        {"a removed group: its subtree in pre-order, then the group again",
         {{"top", "comp"}, {"x", "comp/g/x"}},
         tree(group("r", {group("g", {text("x", "1"), text("y", "1")}), text("s", "1")})),
         tree(group("r", {text("s", "1")})),
         {"top removed comp/g", "top removed comp/g/x", "x removed comp/g/x",
          "top removed comp/g/y", "top removed comp/g", "top changed comp", "top complete",
          "x complete"}},
        {"a removed subtree is found when the roots are named differently",
         {{"top", "comp"}},
         tree(group("old", {group("g", {text("x", "1")})})),
         tree(group("new")),
         {"top removed comp/g", "top removed comp/g/x", "top removed comp/g", "top changed comp",
          "top complete"}},
        {"an added subtree, children first",
         {{"top", "comp"}},
         tree(group("r")),
         tree(group("r", {group("g", {group("h", {text("p", "1")})})})),
         {"top added comp/g/h/p", "top added comp/g/h", "top added comp/g", "top changed comp",
          "top complete"}},
        {"the whole tree removed: the root is the bare component",
         {{"top", "comp"}},
         tree(group("r", {text("p", "1")})),
         tree(),
         {"top removed comp", "top removed comp/p", "top removed comp", "top complete"}},
        {"no difference, or one below or beside the listeners: nobody is called",
         {{"p", "comp/a/p"}, {"b", "comp/b"}},
         tree(group("r", {group("a", {text("p", "1"), text("q", "1")}), group("b")})),
         tree(group("r", {group("a", {text("p", "1"), text("q", "2")}), group("b")})),
         {}},
    };
    for (const auto& c : cases) {
        Lines calls;
        DiffListener registry("comp");
        std::vector<std::unique_ptr<Recorder>> recorders;
        for (const auto& [id, path] : c.listeners) {
            recorders.push_back(std::make_unique<Recorder>(id, calls));
            registry.addListener(at(path), recorders.back().get());
        }
        TreeDiff diff("comp", &registry, c.oldTree.get());
        c.newTree->substract(*c.oldTree, diff);
        EXPECT_EQ(calls, c.expected) << c.title;
    }
}

// Paths are built from names: "a/b" is one name, a registration for a then b
// is another path.
TEST_F(TreeDiffTest, NamesHoldingSlashesStayOneName) {
    registry.addListener(at("comp"), &top);
    registry.addListener(at("comp/a/b"), &a);
    registry.addListener(NodePath("comp", {"a/b"}), &third);
    notify(group("r", {group("a/b", {text("p", "1")}), group("x/y", {text("q", "1")})}),
           group("r", {group("a/b", {text("p", "2")})}));
    EXPECT_EQ(top.names,
              (std::vector<Lines>{{"x/y"}, {"x/y", "q"}, {"x/y"}, {"a/b", "p"}, {"a/b"}, {}}));
    EXPECT_EQ(third.names, (std::vector<Lines>{{"a/b", "p"}, {"a/b"}}));
    EXPECT_EQ(a.names, std::vector<Lines>());
    registry.callChangedListeners(NodePath("comp", {"a", "b"}));
    EXPECT_EQ(calls.back(), "a changed comp/a/b");
}

TEST_F(TreeDiffTest, RegistrationsAndRemovalResultsPerPath) {
    EXPECT_FALSE(registry.removeListener(at("comp/a"), &top));  // never registered
    registry.addListener(at("comp/a"), &top);
    registry.addListener(at("comp/a"), &top);
    registry.addListener(at("comp"), &top);
    registry.addListener(at("comp/a"), &a);
    registry.callChangedListeners(at("comp/a/x"));
    registry.callListeners(at("comp/a"), static_cast<ActionType>(3));
    registry.callChangedListeners(at("other/a"));
    EXPECT_EQ(calls, (Lines{"top changed comp/a/x", "top changed comp/a/x", "top changed comp/a/x",
                            "a changed comp/a/x"}));
    EXPECT_FALSE(registry.removeListener(at("comp/a"), &a));
    EXPECT_FALSE(registry.removeListener(at("comp/a"), &a));  // not in the list any more
    EXPECT_FALSE(registry.removeListener(at("comp/a"), &top));
    EXPECT_TRUE(registry.removeListener(at("comp/a"), &top));
    EXPECT_TRUE(registry.removeListener(at("comp/a"), &top));  // the entry stays, empty
    EXPECT_TRUE(registry.hasListeners());
    EXPECT_TRUE(registry.removeListener(at("comp"), &top));
    EXPECT_FALSE(registry.hasListeners());
}

TEST_F(TreeDiffTest, ThrowingListenerIsLoggedAndTheOthersGoOn) {
    a.during = [](const NodePath&) { throw Exception("boom\n"); };  // as the service's end
    top.during = [](const NodePath&) { throw std::runtime_error("bang"); };
    a.atEnd = [] { throw Exception("late"); };
    for (Recorder* listener : {&top, &a, &third}) {
        registry.addListener(at("comp"), listener);
    }
    syslogseam::clear();
    notify(group("r", {text("p", "1")}), group("r", {text("p", "2")}));
    EXPECT_EQ(calls, (Lines{"top changed comp/p", "a changed comp/p", "third changed comp/p",
                            "top changed comp", "a changed comp", "third changed comp",
                            "top complete", "a complete", "third complete"}));
    EXPECT_EQ(syslogseam::text(),
              "Node listener failed for comp/p: bang\nNode listener failed for comp/p: boom\n"
              "Node listener failed for comp: bang\nNode listener failed for comp: boom\n"
              "Node listener failed for the end of a change of comp: late\n");
}

// A removal during a call takes effect at once, an addition from the next
// change; a listener removed during the event, though called, does not complete.
TEST_F(TreeDiffTest, RegistrationsChangedDuringACall) {
    registry.addListener(at("comp"), &top);
    registry.addListener(at("comp"), &a);
    registry.addListener(at("comp/p"), &third);
    top.during = [this](const NodePath&) {
        registry.removeListener(at("comp"), &top);  // itself, and one not called yet
        registry.removeListener(at("comp/p"), &third);
        registry.addListener(at("comp"), &third);    // an entry that is being called
        registry.addListener(at("comp/p"), &third);  // a new entry, sorted later
    };
    notify(group("r", {text("p", "1")}), group("r", {text("p", "2")}));
    EXPECT_EQ(calls,
              (Lines{"top changed comp/p", "a changed comp/p", "a changed comp", "a complete"}));
    calls.clear();
    notify(group("r", {text("p", "2")}), group("r", {text("p", "3")}));
    EXPECT_EQ(calls,
              (Lines{"a changed comp/p", "third changed comp/p", "third changed comp/p",
                     "a changed comp", "third changed comp", "a complete", "third complete"}));
}

}  // namespace
