// SPDX-License-Identifier: LGPL-2.1-or-later
#include <gtest/gtest.h>
#include <syslog.h>

#include <algorithm>
#include <sstream>

#include "EventLog.h"
#include "SyslogSeam.h"
#include "policy/PapiLayer.h"
#include "policy/PolicyLayer.h"
#include "policy/PolicyLayerWrapper.h"

using namespace vesk::legacy;
using testsupport::EventLog;
using testsupport::Lines;
using testsupport::play;

namespace {

NodePath at(const std::string& text) {
    NodePath path;
    path.setPath(text);
    return path;
}

// The path comp/org/Apps against a layer whose root R holds org/Apps/Item and
// Other: below R, "Other" is Different, "org" an Ancestor, "org/Apps" Equal and
// "org/Apps/Item" a Descendant of the path. Each event is sent with the names
// before it opened below R.
TEST(PolicyLayerWrapperTest, FilterTable) {
    const char* values = "setStringValue v; setListValue a b de; addListValues c en";
    const struct {
        const char* opened;
        const char* event;
        Lines passed;
    } cases[] = {
        {"", "modifyNode Other 1", {}},
        {"", "modifyNode org 1", {}},
        {"org", "modifyNode Apps 13", {"modifyNode Apps 1"}},
        {"org/Apps", "modifyNode Item 13", {"modifyNode Item 13"}},
        {"", "replaceNode org 1", {}},
        {"org", "replaceNode Apps 6", {"replaceNode Apps 2"}},
        {"org/Apps", "replaceNode Item 6", {"replaceNode Item 6"}},
        {"", "modifyProperty Other 2 1", {}},
        {"org", "modifyProperty Apps 2 9", {"modifyProperty Apps 2 1"}},
        {"org/Apps", "modifyProperty Item 2 9", {"modifyProperty Item 2 9"}},
        {"", "replaceProperty org 12 1", {}},
        {"org", "replaceProperty Apps 12 5", {"replaceProperty Apps 12 1"}},
        {"", "removeNode Other", {}},
        {"org", "removeNode Apps", {"removeNode Apps"}},
        {"org/Apps", "removeNode Item", {"removeNode Item"}},
        {"Other", "endNode", {}},
        {"org", "endNode", {}},
        {"org/Apps", "endNode", {"endNode"}},
        {"org/Apps", "endProperty", {"endNode"}},
        {"org/Apps/Item", "endProperty", {"endNode"}},
        {"Other", values, {}},
        {"org", values, {}},
        {"org/Apps", values, {"setStringValue v ", "setListValue a b de", "addListValues c en"}},
        {"org/Apps/Item", "setStringValue v fr", {"setStringValue v fr"}},
    };
    const NodePath path = at("comp/org/Apps");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.opened) + ": " + c.event);
        EventLog log;
        PolicyLayerWrapper wrapper(path, log);
        std::string opening = "startTree; modifyNode R 0";
        std::istringstream names(c.opened);
        for (std::string name; std::getline(names, name, '/');) {
            opening += "; modifyNode " + name + " 0";
        }
        play(opening, wrapper);
        log.lines.clear();
        play(c.event, wrapper);
        EXPECT_EQ(log.lines, c.passed);
    }
}

// Whole layers through the wrapper: endNode pops in every case, a path without
// names passes everything, a removed ancestor gives one closed removal.
TEST(PolicyLayerWrapperTest, Sequences) {
    const struct {
        const char* path;
        const char* events;
        Lines passed;
    } cases[] = {
        {"comp/org/Apps",
         "startTree; modifyNode R 1; modifyNode Other 0; endNode; modifyNode org 1;"
         "modifyProperty x 5 0; setStringValue dropped; endProperty; modifyNode Apps 0; endNode;"
         "endNode; endNode; endNode; endTree",
         {"startTree", "modifyNode Apps 0", "endNode", "endTree"}},
        {"comp",
         "startTree; modifyNode root 1; removeNode gone; endNode; replaceProperty p 5 1;"
         "setStringValue v; endProperty; endNode; endTree",
         {"startTree", "modifyNode root 1", "removeNode gone", "endNode", "replaceProperty p 5 1",
          "setStringValue v ", "endNode", "endNode", "endTree"}},
        {"comp/org/Apps",
         "startTree; modifyNode R 0; removeNode org; modifyNode Apps 0; setStringValue v; endNode;"
         "endNode; modifyNode org 0; modifyNode Apps 1; endNode; endNode; endNode; endTree",
         {"startTree", "removeNode Apps", "endNode", "modifyNode Apps 1", "endNode", "endTree"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.events);
        EventLog log;
        const NodePath path = at(c.path);
        PolicyLayerWrapper wrapper(path, log);
        play(c.events, wrapper);
        EXPECT_EQ(log.lines, c.passed);
    }
}

TEST(PolicyLayerTest, ReadsTheSubtreeAtThePathAndLogsABrokenLayerOnce) {
    const std::string text =
        "<zel:component-data zel:name=\"comp\">"
        "<node zel:name=\"org\" zel:finalized=\"true\"><node zel:name=\"Apps\" "
        "zel:finalized=\"true\"><prop zel:name=\"Item\" zel:type=\"zel:string-list\">"
        "<value>a b</value></prop></node>"
        "<node zel:name=\"Other\"><prop zel:name=\"x\"><value>y</value></prop></node>"
        "</node></zel:component-data>";
    const PapiLayer layer(text.data(), static_cast<int>(text.size()), "default/ 1");
    EventLog subtree;
    PolicyLayer(at("comp/org/Apps"), layer).read(subtree);
    EXPECT_EQ(subtree.lines, (Lines{"startTree", "modifyNode Apps 1", "modifyProperty Item 12 0",
                                    "setListValue a b ", "endNode", "endNode", "endTree"}));

    syslogseam::clear();
    const std::string broken = "<zel:component-data zel:name=\"c\"><node zel:name=\"a\">";
    EventLog events;
    PolicyLayer(at("org.x"), PapiLayer(broken.data(), int(broken.size()), "users/%s%n 1"))
        .read(events);
    EXPECT_EQ(events.lines[1], "modifyNode c 0");
    const auto messages = syslogseam::messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].priority, LOG_WARNING);
    EXPECT_NE(messages[0].text.find("org.x"), std::string::npos);
    EXPECT_NE(messages[0].text.find("users/%s%n 1"), std::string::npos);
    EXPECT_EQ(messages[0].text.back(), '\n');
}

}  // namespace
