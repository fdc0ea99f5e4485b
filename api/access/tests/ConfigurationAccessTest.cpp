// SPDX-License-Identifier: LGPL-2.1-or-later
#include "access/ConfigurationAccess.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "FakePapi.h"
#include "Recorder.h"
#include "TestFiles.h"
#include "model/Node.h"
#include "policy/PapiException.h"

namespace {

std::string layer(const std::string& body) {
    return "<zel:component-data zel:name=\"comp\">" + body + "</zel:component-data>";
}

std::string layerWith(const std::string& value) {
    return layer("<node zel:name=\"a\"><prop zel:name=\"p\"><value>" + value +
                 "</value></prop><prop zel:name=\"q\"><value>same</value></prop></node>");
}

int countCalls(const std::string& prefix) {
    fakepapi::Calls calls = fakepapi::calls();
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const std::string& c) {
        return c.compare(0, prefix.size(), prefix) == 0;
    }));
}

class ConfigurationAccessTest : public ::testing::Test {
  protected:
    void SetUp() override { fakepapi::reset(); }
    void TearDown() override {
        fakepapi::reset();
        setenv("HOLLIN_CACHE_DIR", "off", 1);
    }
    testsupport::TempDir mScratch{"hollin-access"};
    const std::string mFolder = mScratch.path;
    void setLayers(const std::string& component, const std::vector<std::string>& docs) {
        std::vector<fakepapi::LayerRecord> records;
        for (const std::string& doc : docs) {
            records.push_back(fakepapi::LayerRecord{doc});
        }
        fakepapi::state().layers[component] = records;
    }
};

// A failure other than an unreachable service or an unreadable layer stores
// nothing and is tried again; a component without layers is an empty tree,
// kept like any other.
TEST_F(ConfigurationAccessTest, ReadsEachComponentOnce) {
    setLayers("comp", {layerWith("x")});
    fakepapi::state().readStatus = PAPIUnknownFailure;
    ConfigurationAccess access;
    EXPECT_THROW(access.getNode("comp/a"), PapiException);
    EXPECT_FALSE(access.isComplete("comp"));
    fakepapi::state().readStatus = PAPISuccess;
    EXPECT_EQ(access.getStringValue("comp/a/p") + access.getStringValue("comp/a"), "x");
    EXPECT_TRUE(access.isComplete("comp"));
    EXPECT_EQ(access.getNode("other"), nullptr);
    EXPECT_EQ(&access.getStringValue("other/x"), &access.getStringValue("other/y"));
    EXPECT_TRUE(access.getListValue("other/x").empty());
    EXPECT_EQ(countCalls("papiReadComponentLayers"), 4);
    EXPECT_EQ(fakepapi::registrations(), Lines()) << "complete trees are not watched unasked";
}

// At the first build a component whose layers cannot be read in full is
// served the copy kept from its last complete build; without one, the layers
// before the broken one. Either way it is watched, and the event of its recovery brings the
// layers' tree and the listeners' calls. A change that cannot be read in
// full keeps what is served.
TEST_F(ConfigurationAccessTest, IncompleteLayersServeTheKeptCopyUntilTheyRecover) {
    const std::string whole = layerWith("y");
    const std::string broken = whole.substr(0, whole.find("</value>") + 8);
    const std::string latin1 = layerWith("caf\xe9");
    // A site layer that sets p and then locks a, cut short before the lock:
    // the later layer must not get to set p.
    const std::string locking = layer(
        "<node zel:name=\"a\"><prop zel:name=\"p\"><value>y</value></prop></node>"
        "<node zel:name=\"a\" zel:finalized=\"true\"/>");
    const std::string lockLost = locking.substr(0, locking.rfind("<node"));
    const struct {
        const char* name;
        PAPIStatus status;
        std::vector<std::string> layers;
        bool copyKept;
        const char* served;  // comp/a/p at the first build
    } cases[] = {
        {"unreachable", PAPIConnectionFailure, {layerWith("y")}, true, "x"},
        {"unreadable layer", PAPILdbFailure, {layerWith("y")}, true, "x"},
        {"truncated", PAPISuccess, {broken}, true, "x"},
        {"Latin-1 byte", PAPISuccess, {latin1}, true, "x"},
        {"unreachable, no copy", PAPIConnectionFailure, {layerWith("y")}, false, ""},
        // Without a copy only the layers before the broken one apply.
        {"lock cut short, no copy", PAPISuccess, {lockLost, layerWith("evil")}, false, ""},
        {"second layer broken, no copy",
         PAPISuccess,
         {layerWith("x"), broken, layerWith("evil")},
         false,
         "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fakepapi::reset();
        setenv("HOLLIN_CACHE_DIR", (mFolder + "/" + c.name).c_str(), 1);
        if (c.copyKept) {
            setLayers("comp", {layerWith("x")});
            EXPECT_EQ(ConfigurationAccess().getStringValue("comp/a/p"), "x");
        }
        setLayers("comp", c.layers);
        fakepapi::state().readStatus = c.status;
        ConfigurationAccess access;
        Recorder listener(access, "comp/a/p");
        EXPECT_EQ(access.getStringValue("comp/a/p"), c.served);
        EXPECT_FALSE(access.isComplete("comp"));
        EXPECT_NE(access.getIncompleteReason("comp").find(c.copyKept ? "the copy in" : "no copy"),
                  std::string::npos)
            << access.getIncompleteReason("comp");
        EXPECT_EQ(fakepapi::registrations(), Lines{"R1"});
        access.addListener(NodePath("comp", {"a"}), &listener);

        // Still broken: nothing changes.
        fakepapi::fire("comp", PAPIEventComponentModified);
        EXPECT_EQ(listener.take(), Lines());
        EXPECT_EQ(access.getStringValue("comp/a/p"), c.served);

        fakepapi::state().readStatus = PAPISuccess;
        setLayers("comp", {layerWith("z")});
        fakepapi::fire("comp", PAPIEventComponentModified);
        const Lines calls = listener.take();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), std::string(*c.served != 0 ? "changed" : "added") + " comp/a=z");
        EXPECT_TRUE(access.isComplete("comp"));

        // A recovered component that breaks again keeps its tree.
        setLayers("comp", {broken});
        fakepapi::fire("comp", PAPIEventComponentModified);
        EXPECT_EQ(listener.take(), Lines());
        EXPECT_EQ(access.getStringValue("comp/a/p"), "z");
        access.removeListener(NodePath("comp", {"a"}), &listener);
    }
}

// The copies of changes are written behind the listeners' backs: a process
// starting without the service must still find the last complete read kept,
// not one a burst of changes or another facade's first read left behind.
TEST_F(ConfigurationAccessTest, TheKeptCopyIsTheLastCompleteRead) {
    setenv("HOLLIN_CACHE_DIR", (mFolder + "/cache").c_str(), 1);
    setLayers("comp", {layerWith("0")});
    auto changing = std::make_unique<ConfigurationAccess>();
    Recorder listener(*changing, "comp/a/p");
    changing->addListener(NodePath("comp", {"a"}), &listener);
    for (int n = 1; n <= 30; ++n) {
        setLayers("comp", {layerWith(std::to_string(n))});
        fakepapi::fire("comp", PAPIEventComponentModified);
        if (n == 15) {
            EXPECT_EQ(ConfigurationAccess().getStringValue("comp/a/p"), "15");
        }
    }
    fakepapi::state().readStatus = PAPIConnectionFailure;
    EXPECT_EQ(ConfigurationAccess().getStringValue("comp/a/p"), "30") << "while the writer runs";
    changing->removeListener(NodePath("comp", {"a"}), &listener);
    fakepapi::state().readStatus = PAPISuccess;
    setLayers("comp", {layerWith("31")});
    fakepapi::fire("comp", PAPIEventComponentModified);
    changing.reset();
    fakepapi::state().readStatus = PAPIConnectionFailure;
    EXPECT_EQ(ConfigurationAccess().getStringValue("comp/a/p"), "31") << "after it is gone";
}

// An edit that lands while the facade registers with the service reaches the
// tree, whether the tree was built before the registration or not.
TEST_F(ConfigurationAccessTest, EditDuringRegistrationIsNotLost) {
    for (const bool readFirst : {true, false}) {
        SCOPED_TRACE(readFirst ? "read before" : "not read before");
        fakepapi::reset();
        setLayers("comp", {layerWith("x")});
        ConfigurationAccess access;
        Recorder listener(access, "comp/a/p");
        if (readFirst) {
            EXPECT_EQ(access.getStringValue("comp/a/p"), "x");
        }
        fakepapi::state().beforeAddListener = [&] { setLayers("comp", {layerWith("y")}); };
        access.addListener(NodePath("comp", {"a"}), &listener);
        EXPECT_EQ(access.getStringValue("comp/a/p"), "y");
        access.removeListener(NodePath("comp", {"a"}), &listener);
    }
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

    // Paths read before a change of comp follow it; comp2's stay as they were.
    const Node* other = access.getNode("comp2/p");
    setLayers("comp",
              {layer("<node zel:name=''><prop zel:name='p'><value>f</value></prop></node>"
                     "<node zel:name='a'><prop zel:name='q'><value>u</value></prop></node>")});
    access.onComponentModify("comp");
    for (const auto& [path, value] : {std::pair{"comp//p", "f"},
                                      {"comp/a//q", nullptr},
                                      {"comp/a/", nullptr},
                                      {"comp/a/q", "u"}}) {
        EXPECT_EQ(access.getNode(path) != nullptr, value != nullptr) << path;
        if (value != nullptr) {
            EXPECT_EQ(access.getStringValue(path), value) << path;
        }
    }
    EXPECT_EQ(access.getNode("comp2/p"), other);
}

// One service registration per component, tried again after a failure and
// kept while the tree is cached, withdrawn by the destructor. Listeners are
// called in post-order with the new tree in place, and may change the
// registrations during their call: a removal counts at once, an addition from
// the next change.
TEST_F(ConfigurationAccessTest, ChangesReachTheListeners) {
    setLayers("comp", {layerWith("x")});
    auto access = std::make_unique<ConfigurationAccess>();
    Recorder onA(*access, "comp/a/p"), onRoot(*access, "comp/a/p"), removed(*access, "comp/a/p"),
        late(*access, "comp/a/p");
    const NodePath a("comp", {"a"}), root("comp", {}), q("comp", {"a", "q"});
    fakepapi::state().addStatus = PAPIConnectionFailure;
    EXPECT_THROW(access->addListener(a, &onA), PapiException);
    fakepapi::state().addStatus = PAPISuccess;
    access->addListener(a, &onA);
    access->addListener(root, &onRoot);
    access->addListener(q, &onRoot);  // q does not change
    access->addListener(a, &removed);
    bool first = true;
    onA.during = [&] {
        if (std::exchange(first, false)) {
            access->removeListener(a, &removed);
            access->addListener(a, &late);
        }
    };
    setLayers("comp", {layerWith("y")});
    EXPECT_EQ(fakepapi::fire("comp", PAPIEventComponentModified), 1);
    EXPECT_EQ(onA.take(), (Lines{"changed comp/a/p=y", "changed comp/a=y"}));
    EXPECT_EQ(onRoot.take(), (Lines{"changed comp/a/p=y", "changed comp/a=y", "changed comp=y"}));
    EXPECT_EQ(removed.take().size() + late.take().size(), 0u);
    fakepapi::fire("comp", PAPIEventComponentAdded);  // no difference, no call
    EXPECT_EQ(onA.take(), Lines());

    for (Recorder* listener : {&onA, &late}) {
        access->removeListener(a, listener);
    }
    access->removeListener(root, &onRoot);
    access->removeListener(q, &onRoot);
    access->addListener(a, &late);
    setLayers("comp", {layerWith("x")});
    fakepapi::fire("comp", PAPIEventComponentModified);
    EXPECT_EQ(late.take(), (Lines{"changed comp/a/p=x", "changed comp/a=x"}));
    EXPECT_EQ(fakepapi::registrations(), Lines{"R1"});

    const int reads = countCalls("papiReadComponentLayers");
    access->onComponentModify("unread");  // never read: ignored
    EXPECT_EQ(countCalls("papiReadComponentLayers"), reads);
    access.reset();
    EXPECT_EQ(fakepapi::registrations(), Lines());
}

}  // namespace
