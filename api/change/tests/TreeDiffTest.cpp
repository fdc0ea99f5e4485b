#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>

#include "TestTrees.h"
#include "change/DiffListener.h"
#include "change/INodeListener.h"
#include "change/TreeDiff.h"
#include "model/Exception.h"

using namespace vesk::legacy;
using namespace vesk::legacy::testing;

// The system log seam: replaces libc's vsyslog in this binary, so the test
// can see what a failing listener leaves in the log.
namespace {
std::vector<std::string> sLogged;
}

extern "C" void vsyslog(int, const char* format, va_list args) {
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    sLogged.push_back(line);
}

namespace {

using Calls = std::vector<std::string>;

// Records "<id> <added|removed|changed> <component><path>" into a shared log
// and runs an optional action during each call.
class Recorder : public INodeListener {
  public:
    Recorder(const std::string& id, Calls& calls) : mId(id), mCalls(calls) {}
    std::function<void(const NodePath&)> during;
    std::vector<std::vector<std::string>> names;

    void onNodeAdded(const NodePath& path) override { record("added", path); }
    void onNodeRemoved(const NodePath& path) override { record("removed", path); }
    void onNodeChanged(const NodePath& path) override { record("changed", path); }

  private:
    void record(const char* what, const NodePath& path) {
        mCalls.push_back(mId + " " + what + " " + path.getComponent() + path.getPath());
        names.push_back(path.getNames());
        if (during) {
            during(path);
        }
    }
    std::string mId;
    Calls& mCalls;
};

NodePath at(const std::string& text) {
    NodePath path;
    path.setPath(text);
    return path;
}

void notify(const DiffListener& registry, Node* oldRoot, Node* newRoot) {
    auto oldTree = tree(oldRoot);
    auto newTree = tree(newRoot);
    TreeDiff diff("comp", &registry, oldTree.get());
    newTree->substract(*oldTree, diff);
}

class TreeDiffTest : public ::testing::Test {
  protected:
    Calls calls;
    DiffListener registry{"comp"};
    Recorder top{"top", calls};
    Recorder a{"a", calls};
};

struct Case {
    const char* title;
    std::vector<std::pair<const char*, const char*>> listeners;  // id, registered path
    std::shared_ptr<Tree> oldTree;
    std::shared_ptr<Tree> newTree;
    Calls expected;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.title;
}

class NotificationTest : public ::testing::TestWithParam<Case> {};

TEST_P(NotificationTest, CallsExactlyThese) {
    const Case& c = GetParam();
    Calls calls;
    DiffListener registry("comp");
    std::vector<std::unique_ptr<Recorder>> recorders;
    for (const auto& listener : c.listeners) {
        recorders.push_back(std::make_unique<Recorder>(listener.first, calls));
        registry.addListener(at(listener.second), recorders.back().get());
    }
    TreeDiff diff("comp", &registry, c.oldTree.get());
    c.newTree->substract(*c.oldTree, diff);
    EXPECT_EQ(calls, c.expected);
}

const Case kCases[] = {
    {"a changed property reaches the listeners of its ancestors, children first",
     {{"a", "comp/a"}, {"top", "comp"}},
     tree(group("r", {group("a", {group("b", {text("p", "1")})})})),
     tree(group("r", {group("a", {group("b", {text("p", "2")})})})),
     {"top changed comp/a/b/p", "a changed comp/a/b/p", "top changed comp/a/b",
      "a changed comp/a/b", "top changed comp/a", "a changed comp/a", "top changed comp"}},
    {"a removed group: its subtree in pre-order, then the group again",
     {{"top", "comp"}, {"x", "comp/g/x"}},
     tree(group("r", {group("g", {text("x", "1"), text("y", "1")}), text("s", "1")})),
     tree(group("r", {text("s", "1")})),
     {"top removed comp/g", "top removed comp/g/x", "x removed comp/g/x", "top removed comp/g/y",
      "top removed comp/g", "top changed comp"}},
    {"a removed subtree is found when the roots are named differently",
     {{"top", "comp"}},
     tree(group("old", {group("g", {text("x", "1")})})),
     tree(group("new")),
     {"top removed comp/g", "top removed comp/g/x", "top removed comp/g", "top changed comp"}},
    {"an added subtree, children first",
     {{"top", "comp"}},
     tree(group("r")),
     tree(group("r", {group("g", {group("h", {text("p", "1")})})})),
     {"top added comp/g/h/p", "top added comp/g/h", "top added comp/g", "top changed comp"}},
    {"the whole tree removed: the root is the bare component",
     {{"top", "comp"}},
     tree(group("r", {text("p", "1")})),
     tree(),
     {"top removed comp", "top removed comp/p", "top removed comp"}},
    {"no difference, or one below or beside the listeners: nobody is called",
     {{"p", "comp/a/p"}, {"b", "comp/b"}},
     tree(group("r", {group("a", {text("p", "1"), text("q", "1")}), group("b")})),
     tree(group("r", {group("a", {text("p", "1"), text("q", "2")}), group("b")})),
     {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, NotificationTest, ::testing::ValuesIn(kCases));

TEST_F(TreeDiffTest, NamesHoldingSlashesStayOneName) {
    registry.addListener(at("comp"), &top);
    registry.addListener(at("comp/a/b"), &a);
    notify(registry, group("r", {group("a/b", {text("p", "1")}), group("x/y", {text("q", "1")})}),
           group("r", {group("a/b", {text("p", "2")})}));
    using Names = std::vector<std::string>;
    EXPECT_EQ(top.names,
              (std::vector<Names>{{"x/y"}, {"x/y", "q"}, {"x/y"}, {"a/b", "p"}, {"a/b"}, {}}));
    EXPECT_EQ(calls.size(), top.names.size());  // nothing for the listener of a then b
}

TEST_F(TreeDiffTest, EventsOutsideStartAndEndAreIgnored) {
    registry.addListener(at("comp"), &top);
    auto oldTree = tree(group("r", {group("g")}));
    TreeDiff diff("comp", &registry, oldTree.get());
    diff.modifyNode("r", 0);
    diff.endNode();
    diff.startTree();
    diff.replaceNode("r", 0);
    diff.endNode();
    diff.endNode();  // unbalanced: nothing left to close
    diff.endTree();
    diff.removeNode("r");
    diff.endNode();
    EXPECT_EQ(calls, (Calls{"top added comp"}));
}

TEST(DiffListenerTest, RegistrationsAndRemovalResults) {
    Calls calls;
    Recorder one("one", calls), two("two", calls);
    DiffListener registry("comp");
    EXPECT_FALSE(registry.removeListener(at("comp/a"), &one));  // never registered
    registry.addListener(at("comp/a"), &one);
    registry.addListener(at("comp/a"), &one);
    registry.addListener(at("comp"), &one);
    registry.addListener(at("comp/a"), &two);
    registry.callChangedListeners(at("comp/a/x"));
    EXPECT_EQ(calls, (Calls{"one changed comp/a/x", "one changed comp/a/x", "one changed comp/a/x",
                            "two changed comp/a/x"}));
    calls.clear();
    registry.callListeners(at("comp/a"), static_cast<ActionType>(3));
    registry.callChangedListeners(at("other/a"));
    EXPECT_TRUE(calls.empty());

    EXPECT_FALSE(registry.removeListener(at("comp/a"), &two));
    EXPECT_FALSE(registry.removeListener(at("comp/a"), &two));  // not in the list any more
    EXPECT_FALSE(registry.removeListener(at("comp/a"), &one));
    EXPECT_TRUE(registry.removeListener(at("comp/a"), &one));
    EXPECT_TRUE(registry.removeListener(at("comp/a"), &one));  // the entry stays, empty
    EXPECT_TRUE(registry.hasListeners());
    EXPECT_TRUE(registry.removeListener(at("comp"), &one));
    EXPECT_FALSE(registry.hasListeners());
}

TEST(DiffListenerTest, SlashInANameDoesNotMergeTwoRegistrations) {
    Calls calls;
    Recorder split("split", calls), whole("whole", calls);
    DiffListener registry("comp");
    registry.addListener(at("comp/a/b"), &split);
    registry.addListener(NodePath("comp", {"a/b"}), &whole);
    registry.callChangedListeners(NodePath("comp", {"a/b", "p"}));
    registry.callChangedListeners(NodePath("comp", {"a", "b"}));
    EXPECT_EQ(calls, (Calls{"whole changed comp/a/b/p", "split changed comp/a/b"}));
}

TEST_F(TreeDiffTest, ThrowingListenerIsLoggedAndTheOthersGoOn) {
    Recorder third{"third", calls};
    a.during = [](const NodePath&) { throw Exception("boom"); };
    top.during = [](const NodePath&) { throw std::runtime_error("bang"); };
    registry.addListener(at("comp"), &top);
    registry.addListener(at("comp"), &a);
    registry.addListener(at("comp"), &third);
    sLogged.clear();
    notify(registry, group("r", {text("p", "1")}), group("r", {text("p", "2")}));
    EXPECT_EQ(calls, (Calls{"top changed comp/p", "a changed comp/p", "third changed comp/p",
                            "top changed comp", "a changed comp", "third changed comp"}));
    EXPECT_EQ(
        sLogged,
        (Calls{"Node listener failed for comp/p: bang\n", "Node listener failed for comp/p: boom\n",
               "Node listener failed for comp: bang\n", "Node listener failed for comp: boom\n"}));
}

TEST_F(TreeDiffTest, RemovalDuringACallTakesEffectAtOnce) {
    Recorder later{"later", calls};
    registry.addListener(at("comp"), &top);
    registry.addListener(at("comp"), &a);
    registry.addListener(at("comp/p"), &later);
    // The first listener removes itself and a listener that has not been
    // called yet; neither is called again.
    top.during = [this, &later](const NodePath&) {
        registry.removeListener(at("comp"), &top);
        registry.removeListener(at("comp/p"), &later);
    };
    notify(registry, group("r", {text("p", "1")}), group("r", {text("p", "2")}));
    EXPECT_EQ(calls, (Calls{"top changed comp/p", "a changed comp/p", "a changed comp"}));
}

TEST_F(TreeDiffTest, AdditionDuringACallCountsFromTheNextChange) {
    Recorder added{"added", calls};
    registry.addListener(at("comp"), &top);
    top.during = [this, &added](const NodePath& path) {
        if (path.getNames().size() == 1) {
            registry.addListener(at("comp"), &added);    // an entry that is being called
            registry.addListener(at("comp/p"), &added);  // a new entry, sorted later
        }
    };
    notify(registry, group("r", {text("p", "1")}), group("r", {text("p", "2")}));
    EXPECT_EQ(calls, (Calls{"top changed comp/p", "top changed comp"}));
    calls.clear();
    top.during = nullptr;
    notify(registry, group("r", {text("p", "2")}), group("r", {text("p", "3")}));
    EXPECT_EQ(calls, (Calls{"top changed comp/p", "added changed comp/p", "added changed comp/p",
                            "top changed comp", "added changed comp"}));
}

}  // namespace
