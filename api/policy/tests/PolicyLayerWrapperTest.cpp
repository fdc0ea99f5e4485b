#include <gtest/gtest.h>
#include <syslog.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "SyslogSeam.h"
#include "policy/PapiLayer.h"
#include "policy/PolicyLayer.h"
#include "policy/PolicyLayerWrapper.h"

using namespace vesk::legacy;

namespace {

using Events = std::vector<std::string>;

// Records the events it receives, one text each.
class RecordingHandler : public ITreeHandler {
  public:
    Events events;

    void startTree() override { events.push_back("startTree"); }
    void endTree() override { events.push_back("endTree"); }
    void modifyNode(const std::string& name, int attributes) override {
        events.push_back("modifyNode " + name + " " + std::to_string(attributes));
    }
    void replaceNode(const std::string& name, int attributes) override {
        events.push_back("replaceNode " + name + " " + std::to_string(attributes));
    }
    void removeNode(const std::string& name) override { events.push_back("removeNode " + name); }
    void endNode() override { events.push_back("endNode"); }
    void modifyProperty(const std::string& name, PropertyType type, int attributes) override {
        events.push_back("modifyProperty " + name + " " + std::to_string(type) + " " +
                         std::to_string(attributes));
    }
    void replaceProperty(const std::string& name, PropertyType type, int attributes) override {
        events.push_back("replaceProperty " + name + " " + std::to_string(type) + " " +
                         std::to_string(attributes));
    }
    void endProperty() override { events.push_back("endProperty"); }
    void setStringValue(const std::string& value, const std::string& locale) override {
        events.push_back("setStringValue " + value + " " + locale);
    }
    void setListValue(const std::vector<std::string>& values, const std::string& locale) override {
        events.push_back("setListValue " + std::to_string(values.size()) + " " + locale);
    }
    void addListValues(const std::vector<std::string>& values, const std::string& locale) override {
        events.push_back("addListValues " + std::to_string(values.size()) + " " + locale);
    }
};

NodePath pathOf(const std::string& text) {
    NodePath path;
    path.setPath(text);
    return path;
}

using Event = std::function<void(ITreeHandler&)>;

// The path comp/org/Apps against a layer whose root R holds org/Apps/Item and
// Other: below R, "Other" is Different, "org" an Ancestor, "org/Apps" Equal and
// "org/Apps/Item" a Descendant of the path.
TEST(PolicyLayerWrapperTest, FilterTable) {
    const std::vector<std::string> different{"Other"}, ancestor{"org"}, equal{"org", "Apps"},
        descendant{"org", "Apps", "Item"};
    const std::vector<std::string> vals{"a", "b"};
    const struct {
        const char* name;
        std::vector<std::string> opened;  // opened below R before the event
        Event event;
        Events passed;
    } cases[] = {
        {"modifyNode Different", {}, [](ITreeHandler& h) { h.modifyNode("Other", 1); }, {}},
        {"modifyNode Ancestor", {}, [](ITreeHandler& h) { h.modifyNode("org", 1); }, {}},
        {"modifyNode Equal",
         ancestor,
         [](ITreeHandler& h) { h.modifyNode("Apps", 13); },
         {"modifyNode Apps 1"}},
        {"modifyNode Descendant",
         equal,
         [](ITreeHandler& h) { h.modifyNode("Item", 13); },
         {"modifyNode Item 13"}},
        {"replaceNode Ancestor", {}, [](ITreeHandler& h) { h.replaceNode("org", 1); }, {}},
        {"replaceNode Equal",
         ancestor,
         [](ITreeHandler& h) { h.replaceNode("Apps", 6); },
         {"replaceNode Apps 2"}},
        {"replaceNode Descendant",
         equal,
         [](ITreeHandler& h) { h.replaceNode("Item", 6); },
         {"replaceNode Item 6"}},
        {"modifyProperty Different",
         {},
         [](ITreeHandler& h) { h.modifyProperty("Other", TypeInt, 1); },
         {}},
        {"modifyProperty Equal",
         ancestor,
         [](ITreeHandler& h) { h.modifyProperty("Apps", TypeInt, 9); },
         {"modifyProperty Apps 2 1"}},
        {"modifyProperty Descendant",
         equal,
         [](ITreeHandler& h) { h.modifyProperty("Item", TypeInt, 9); },
         {"modifyProperty Item 2 9"}},
        {"replaceProperty Ancestor",
         {},
         [](ITreeHandler& h) { h.replaceProperty("org", TypeStringList, 1); },
         {}},
        {"replaceProperty Equal",
         ancestor,
         [](ITreeHandler& h) { h.replaceProperty("Apps", TypeStringList, 5); },
         {"replaceProperty Apps 12 1"}},
        {"removeNode Different", {}, [](ITreeHandler& h) { h.removeNode("Other"); }, {}},
        {"removeNode Equal",
         ancestor,
         [](ITreeHandler& h) { h.removeNode("Apps"); },
         {"removeNode Apps"}},
        {"removeNode Descendant",
         equal,
         [](ITreeHandler& h) { h.removeNode("Item"); },
         {"removeNode Item"}},
        {"endNode Different", different, [](ITreeHandler& h) { h.endNode(); }, {}},
        {"endNode Ancestor", ancestor, [](ITreeHandler& h) { h.endNode(); }, {}},
        {"endNode Equal", equal, [](ITreeHandler& h) { h.endNode(); }, {"endNode"}},
        {"endProperty Equal", equal, [](ITreeHandler& h) { h.endProperty(); }, {"endNode"}},
        {"endProperty Descendant",
         descendant,
         [](ITreeHandler& h) { h.endProperty(); },
         {"endNode"}},
        {"values Different",
         different,
         [&](ITreeHandler& h) {
             h.setStringValue("v", "");
             h.setListValue(vals, "de");
             h.addListValues(vals, "en");
         },
         {}},
        {"values Ancestor", ancestor, [&](ITreeHandler& h) { h.setStringValue("v", ""); }, {}},
        {"values Equal",
         equal,
         [&](ITreeHandler& h) {
             h.setStringValue("v", "");
             h.setListValue(vals, "de");
             h.addListValues(vals, "en");
         },
         {"setStringValue v ", "setListValue 2 de", "addListValues 2 en"}},
        {"values Descendant",
         descendant,
         [&](ITreeHandler& h) { h.setStringValue("v", "fr"); },
         {"setStringValue v fr"}},
    };
    const NodePath path = pathOf("comp/org/Apps");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingHandler handler;
        PolicyLayerWrapper wrapper(path, handler);
        wrapper.startTree();
        wrapper.modifyNode("R", 0);
        for (const std::string& name : c.opened) {
            wrapper.modifyNode(name, 0);
        }
        handler.events.clear();
        c.event(wrapper);
        EXPECT_EQ(handler.events, c.passed);
    }
}

TEST(PolicyLayerWrapperTest, EndNodePopsInEveryCase) {
    RecordingHandler handler;
    const NodePath path = pathOf("comp/org/Apps");
    PolicyLayerWrapper wrapper(path, handler);
    wrapper.startTree();
    wrapper.modifyNode("R", 1);
    wrapper.modifyNode("Other", 0);  // Different, dropped...
    wrapper.endNode();               // ...and closed: org is not below Other
    wrapper.modifyNode("org", 1);
    wrapper.modifyProperty("x", TypeString, 0);  // Different
    wrapper.setStringValue("dropped", "");
    wrapper.endProperty();
    wrapper.modifyNode("Apps", 0);
    wrapper.endNode();
    wrapper.endNode();
    wrapper.endNode();
    wrapper.endNode();  // one too many: dropped, not a crash
    wrapper.endTree();
    EXPECT_EQ(handler.events, (Events{"startTree", "modifyNode Apps 0", "endNode", "endTree"}));
}

TEST(PolicyLayerWrapperTest, PathWithoutNamesPassesEverything) {
    RecordingHandler handler;
    const NodePath path = pathOf("comp");
    PolicyLayerWrapper wrapper(path, handler);
    wrapper.startTree();
    wrapper.modifyNode("root", 1);
    wrapper.removeNode("gone");
    wrapper.endNode();
    wrapper.replaceProperty("p", TypeString, 1);
    wrapper.setStringValue("v", "");
    wrapper.endProperty();
    wrapper.endNode();
    wrapper.endTree();
    EXPECT_EQ(handler.events, (Events{"startTree", "modifyNode root 1", "removeNode gone",
                                      "endNode", "replaceProperty p 5 1", "setStringValue v ",
                                      "endNode", "endNode", "endTree"}));
}

TEST(PolicyLayerWrapperTest, RemovedAncestorGivesOneClosedRemoval) {
    RecordingHandler handler;
    const NodePath path = pathOf("comp/org/Apps");
    PolicyLayerWrapper wrapper(path, handler);
    wrapper.startTree();
    wrapper.modifyNode("R", 0);
    wrapper.removeNode("org");
    wrapper.modifyNode("Apps", 0);  // content of the removed node
    wrapper.setStringValue("v", "");
    wrapper.endNode();
    wrapper.endNode();             // end of org
    wrapper.modifyNode("org", 0);  // a later org is looked at again
    wrapper.modifyNode("Apps", 1);
    wrapper.endNode();
    wrapper.endNode();
    wrapper.endNode();
    wrapper.endTree();
    EXPECT_EQ(handler.events, (Events{"startTree", "removeNode Apps", "endNode",
                                      "modifyNode Apps 1", "endNode", "endTree"}));
}

const char kOrgLayer[] =
    "<zel:component-data zel:name=\"comp\">"
    "<node zel:name=\"org\" zel:finalized=\"true\">"
    "<node zel:name=\"Apps\" zel:finalized=\"true\">"
    "<prop zel:name=\"Item\" zel:type=\"zel:string-list\"><value>a b</value></prop>"
    "</node>"
    "<node zel:name=\"Other\"><prop zel:name=\"x\"><value>y</value></prop></node>"
    "</node></zel:component-data>";

TEST(PolicyLayerTest, ReadsTheSubtreeAtThePath) {
    const PapiLayer layer(kOrgLayer, static_cast<int>(sizeof kOrgLayer - 1), "default/ 1");
    RecordingHandler handler;
    PolicyLayer(pathOf("comp/org/Apps"), layer).read(handler);
    EXPECT_EQ(handler.events, (Events{"startTree", "modifyNode Apps 1", "modifyProperty Item 12 0",
                                      "setListValue 2 ", "endNode", "endNode", "endTree"}));

    RecordingHandler whole;
    const PolicyLayer copy = PolicyLayer(pathOf("comp"), layer);
    copy.read(whole);
    copy.read(whole);  // no state between reads
    ASSERT_EQ(whole.events.size(), 32u);
    EXPECT_EQ(Events(whole.events.begin(), whole.events.begin() + 16),
              Events(whole.events.begin() + 16, whole.events.end()));
    EXPECT_EQ(whole.events[1], "modifyNode comp 0");
    EXPECT_EQ(whole.events[15], "endTree");
    EXPECT_EQ(std::count(whole.events.begin(), whole.events.end(), "endNode"), 12);
}

TEST(PolicyLayerTest, BrokenLayerIsLoggedOnceAsWarning) {
    syslogseam::clear();
    const std::string broken = "<zel:component-data zel:name=\"c\"><node zel:name=\"a\">";
    const PapiLayer layer(broken.data(), static_cast<int>(broken.size()), "users/%s%n 1");
    RecordingHandler handler;
    PolicyLayer(pathOf("org.x"), layer).read(handler);
    EXPECT_EQ(handler.events[1], "modifyNode c 0");
    const auto messages = syslogseam::messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].priority, LOG_WARNING);
    EXPECT_NE(messages[0].text.find("org.x"), std::string::npos);
    EXPECT_NE(messages[0].text.find("users/%s%n 1"), std::string::npos);
    EXPECT_EQ(messages[0].text.back(), '\n');
}

}  // namespace
