#include "access/ConfigurationAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "FakePapi.h"
#include "Recorder.h"
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
    void TearDown() override { fakepapi::reset(); }
    void setLayers(const std::string& component, const std::vector<std::string>& docs) {
        std::vector<fakepapi::LayerRecord> records;
        for (const std::string& doc : docs) {
            records.push_back(fakepapi::LayerRecord{doc});
        }
        fakepapi::state().layers[component] = records;
    }
};

// A failed read stores nothing and is tried again; a component without layers
// is an empty tree, kept like any other.
TEST_F(ConfigurationAccessTest, ReadsEachComponentOnce) {
    setLayers("comp", {layerWith("x")});
    fakepapi::state().readStatus = PAPIConnectionFailure;
    ConfigurationAccess access;
    EXPECT_THROW(access.getNode("comp/a"), PapiException);
    fakepapi::state().readStatus = PAPISuccess;
    EXPECT_EQ(access.getStringValue("comp/a/p") + access.getStringValue("comp/a"), "x");
    EXPECT_EQ(access.getNode("other"), nullptr);
    EXPECT_EQ(&access.getStringValue("other/x"), &access.getStringValue("other/y"));
    EXPECT_TRUE(access.getListValue("other/x").empty());
    EXPECT_EQ(countCalls("papiReadComponentLayers"), 3);
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
