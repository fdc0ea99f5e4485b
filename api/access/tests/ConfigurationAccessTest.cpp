#include "access/ConfigurationAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakePapi.h"
#include "SyslogSeam.h"
#include "change/INodeListener.h"
#include "model/Node.h"
#include "model/NodePath.h"
#include "model/PropertyNode.h"
#include "policy/PapiException.h"

using namespace vesk::legacy;

namespace {

std::string layer(const std::string& body) {
    return "<zel:component-data zel:name=\"comp\">" + body + "</zel:component-data>";
}

const std::string kA = layer(
    "<node zel:name=\"a\"><prop zel:name=\"p\"><value>x</value></prop>"
    "<prop zel:name=\"q\"><value>same</value></prop></node>");
const std::string kB = layer(
    "<node zel:name=\"a\"><prop zel:name=\"p\"><value>y</value></prop>"
    "<prop zel:name=\"q\"><value>same</value></prop></node>");

NodePath pathOf(const std::string& text) {
    NodePath path;
    path.setPath(text);
    return path;
}

int countCalls(const std::string& prefix) {
    fakepapi::Calls calls = fakepapi::calls();
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const std::string& c) {
        return c.compare(0, prefix.size(), prefix) == 0;
    }));
}

// Records "changed comp/a/p" and what getNode saw for p during each call.
class Recorder : public INodeListener {
  public:
    explicit Recorder(ConfigurationAccess* access = nullptr) : mAccess(access) {}
    void onNodeAdded(const NodePath& path) override { record("added", path); }
    void onNodeRemoved(const NodePath& path) override { record("removed", path); }
    void onNodeChanged(const NodePath& path) override { record("changed", path); }

    std::vector<std::string> events;
    std::vector<std::string> seen;
    std::function<void()> during;

  private:
    void record(const char* kind, const NodePath& path) {
        events.push_back(std::string(kind) + " " + path.getComponent() + path.getPath());
        if (mAccess != nullptr) {
            seen.push_back(mAccess->getStringValue("comp/a/p"));
        }
        if (during) {
            during();
        }
    }
    ConfigurationAccess* mAccess;
};

class ConfigurationAccessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fakepapi::reset();
        syslogseam::clear();
    }
    void TearDown() override { fakepapi::reset(); }
    void setLayers(const std::string& component, const std::vector<std::string>& docs) {
        std::vector<fakepapi::LayerRecord> records;
        for (const std::string& doc : docs) {
            records.push_back(fakepapi::LayerRecord{doc});
        }
        fakepapi::state().layers[component] = records;
    }
};

TEST_F(ConfigurationAccessTest, ReadsEachComponentOnceAndWalksByName) {
    setLayers("comp", {kA});
    ConfigurationAccess access;
    EXPECT_EQ(access.getStringValue("comp/a/p"), "x");
    EXPECT_EQ(access.getStringValue("comp/a/q"), "same");
    ASSERT_NE(access.getNode("comp"), nullptr);
    EXPECT_EQ(access.getNode("comp")->getName(), "comp");
    EXPECT_EQ(access.getNode("comp/a/p/below"), nullptr);  // below a property
    EXPECT_EQ(access.getNode("comp/missing/p"), nullptr);
    EXPECT_EQ(access.getStringValue("comp/a"), "");  // a group has no value
    EXPECT_EQ(countCalls("papiReadComponentLayers"), 1);

    // A component without layers is an empty tree, also kept.
    EXPECT_EQ(access.getNode("other/x"), nullptr);
    EXPECT_EQ(access.getNode("other"), nullptr);
    EXPECT_EQ(&access.getStringValue("other/x"), &access.getStringValue("other/y"));
    EXPECT_TRUE(access.getListValue("other/x").empty());
    EXPECT_EQ(countCalls("papiReadComponentLayers"), 2);
}

TEST_F(ConfigurationAccessTest, PathsSplitAtEverySlashAndComponentsMatchWhole) {
    setLayers("comp", {layer("<node zel:name=''><prop zel:name='p'><value>e</value></prop></node>"
                             "<node zel:name='a'><node zel:name=''><prop zel:name='q'>"
                             "<value>t</value></prop></node></node>")});
    setLayers("comp2", {layer("<prop zel:name='p'><value>other</value></prop>")});
    ConfigurationAccess access;
    const struct {
        const char* path;
        const char* value;  // null: no node
    } cases[] = {
        {"comp//p", "e"},       {"comp/a//q", "t"},   {"comp/a/", ""},   {"comp/a/q", nullptr},
        {"comp/p", nullptr},    {"comp2/p", "other"}, {"co/p", nullptr}, {"comp2//p", nullptr},
        {"comp//p/x", nullptr}, {"/p", nullptr},
    };
    for (const auto& c : cases) {
        const Node* node = access.getNode(c.path);
        EXPECT_EQ(node != nullptr, c.value != nullptr) << c.path;
        if (c.value != nullptr) {
            EXPECT_EQ(access.getStringValue(c.path), c.value) << c.path;
        }
    }
    EXPECT_EQ(access.getNode("comp2")->getName(), "comp");
    EXPECT_EQ(countCalls("papiReadComponentLayers"), 4) << "comp, comp2, co and the empty name";
}

TEST_F(ConfigurationAccessTest, FailedReadStoresNothingAndIsTriedAgain) {
    setLayers("comp", {kA});
    fakepapi::state().readStatus = PAPIConnectionFailure;
    ConfigurationAccess access;
    try {
        access.getNode("comp/a");
        FAIL() << "expected PapiException";
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), "Connection failure\n");
    }
    fakepapi::state().readStatus = PAPISuccess;
    EXPECT_EQ(access.getStringValue("comp/a/p"), "x");
    EXPECT_EQ(countCalls("papiReadComponentLayers"), 2);
}

TEST_F(ConfigurationAccessTest, ChangeNotifiesInPostOrderWithTheNewTreeInPlace) {
    setLayers("comp", {kA});
    ConfigurationAccess access;
    Recorder onA(&access), onRoot;
    access.addListener(pathOf("comp/a"), &onA);
    access.addListener(pathOf("comp"), &onRoot);
    access.addListener(pathOf("comp/a/q"), &onRoot);  // q does not change
    EXPECT_EQ(countCalls("papiAddListener"), 1);

    setLayers("comp", {kB});
    EXPECT_EQ(fakepapi::fire("comp", PAPIEventComponentModified), 1);
    EXPECT_EQ(onA.events, (std::vector<std::string>{"changed comp/a/p", "changed comp/a"}));
    EXPECT_EQ(onA.seen, (std::vector<std::string>{"y", "y"}));
    EXPECT_EQ(onRoot.events,
              (std::vector<std::string>{"changed comp/a/p", "changed comp/a", "changed comp"}));

    // Add and remove events are handled as a modification; no difference, no call.
    onA.events.clear();
    fakepapi::fire("comp", PAPIEventComponentAdded);
    EXPECT_TRUE(onA.events.empty());
}

TEST_F(ConfigurationAccessTest, FailedRebuildKeepsTheOldTreeForTheNextChange) {
    setLayers("comp", {kA});
    ConfigurationAccess access;
    Recorder listener;
    access.addListener(pathOf("comp/a/p"), &listener);

    fakepapi::state().readStatus = PAPILdbFailure;
    fakepapi::fire("comp", PAPIEventComponentModified);
    EXPECT_TRUE(listener.events.empty());
    EXPECT_EQ(access.getStringValue("comp/a/p"), "x");
    int errors = 0;
    for (const auto& m : syslogseam::messages()) {
        errors += m.text.find("Database error") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(errors, 1);

    fakepapi::state().readStatus = PAPISuccess;
    setLayers("comp", {kB});
    fakepapi::fire("comp", PAPIEventComponentModified);
    EXPECT_EQ(listener.events, (std::vector<std::string>{"changed comp/a/p"}));
    EXPECT_EQ(access.getStringValue("comp/a/p"), "y");
}

TEST_F(ConfigurationAccessTest, RegistrationThatFailedIsRetriedAndKeptUntilDestruction) {
    setLayers("comp", {kA});
    Recorder first, second;
    {
        ConfigurationAccess access;
        fakepapi::state().addStatus = PAPIConnectionFailure;
        EXPECT_THROW(access.addListener(pathOf("comp/a"), &first), PapiException);
        fakepapi::state().addStatus = PAPISuccess;
        access.addListener(pathOf("comp/a"), &second);
        access.addListener(pathOf("comp/a"), &first);
        EXPECT_EQ(fakepapi::registrations().size(), 1u);

        // The last listener leaving keeps the registration: the cached tree must
        // stay current for the next listener.
        access.removeListener(pathOf("comp/a"), &first);
        access.removeListener(pathOf("comp/a"), &second);
        EXPECT_EQ(fakepapi::registrations().size(), 1u);
        access.addListener(pathOf("comp/a"), &first);
        setLayers("comp", {kB});
        fakepapi::fire("comp", PAPIEventComponentModified);
        EXPECT_EQ(first.events.size(), 2u);
        EXPECT_TRUE(second.events.empty());
    }
    // Destroyed: withdrawn, so an event can no longer reach freed memory.
    EXPECT_TRUE(fakepapi::registrations().empty());
    EXPECT_EQ(fakepapi::fire("comp", PAPIEventComponentModified), 0);
}

TEST_F(ConfigurationAccessTest, ListenersMayChangeRegistrationsDuringTheirCall) {
    setLayers("comp", {kA});
    ConfigurationAccess access;
    Recorder self, removed, late;
    access.addListener(pathOf("comp/a"), &self);
    access.addListener(pathOf("comp/a"), &removed);
    self.during = [&] {
        access.removeListener(pathOf("comp/a"), &removed);
        access.addListener(pathOf("comp/a"), &late);
        self.during = nullptr;
    };
    setLayers("comp", {kB});
    fakepapi::fire("comp", PAPIEventComponentModified);
    EXPECT_EQ(self.events.size(), 2u);
    EXPECT_TRUE(removed.events.empty());  // removed at once
    EXPECT_TRUE(late.events.empty());     // from the next change on

    setLayers("comp", {kA});
    fakepapi::fire("comp", PAPIEventComponentModified);
    EXPECT_EQ(late.events, (std::vector<std::string>{"changed comp/a/p", "changed comp/a"}));
}

TEST_F(ConfigurationAccessTest, EventsForComponentsNeverReadAreIgnored) {
    setLayers("comp", {kA});
    ConfigurationAccess access;
    Recorder listener;
    access.addListener(pathOf("comp/a"), &listener);
    int reads = countCalls("papiReadComponentLayers");
    access.onComponentModify("unread");
    EXPECT_EQ(countCalls("papiReadComponentLayers"), reads);
}

}  // namespace
