// The visitor's walk over hand-built startup lists: which applications become
// entries, in which order, with which priority.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "AppVisitor.h"
#include "PluginCommands.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"

namespace {

using namespace vesk::legacy;
using vesk::legacy::plugins::startup::AppVisitor;
using vesk::legacy::plugins::startup::PluginCommands;

Node* prop(const std::string& name, const std::string& value) {
    auto* node = new PropertyNode(name, TypeString);
    node->setStringValue(value, "default");
    return node;
}

Node* group(const std::string& name, const std::vector<Node*>& children) {
    auto* node = new StructuralNode(name);
    for (Node* child : children) {
        node->adoptChild(*child);
    }
    return node;
}

using Entries = std::vector<std::string>;

Entries collect(Node* list, PluginCommands& commands) {
    std::unique_ptr<Node> owner(list);
    Entries entries;
    AppVisitor visitor(entries, commands);
    owner->visit(visitor);
    visitor.flush();
    return entries;
}

TEST(AppVisitor, TurnsApplicationsIntoEntries) {
    struct Case {
        const char* what;
        Node* list;
        Entries expected;
    };
    auto* listProperty = new PropertyNode("command", TypeStringList);
    listProperty->setListValue({"xterm"}, "default");
    const Case cases[] = {
        {"node-name order, not order value; default priority 50",
         group("startup_list", {group("b", {prop("command", "xbiff"), prop("order", "10")}),
                                group("a", {prop("command", "xload")})}),
         {"xload ", "50", "3", "xbiff ", "10", "3"}},
        {"a property before the first application has an empty order",
         group("startup_list", {prop("command", "early"), group("z", {prop("command", "late")})}),
         {"early ", "", "3", "late ", "50", "3"}},
        // Within "outer" the children come as command, inner, order: the order
        // counts for inner, the application begun last.
        {"an inner structural node begins the next application",
         group("startup_list", {group("outer", {prop("command", "outer"), prop("order", "5"),
                                                group("inner", {prop("command", "inner")})})}),
         {"outer ", "50", "3", "inner ", "5", "3"}},
        {"a nested startup_list neither emits nor resets",
         group("startup_list", {group("app", {prop("command", "a1"),
                                              group("startup_list", {prop("order", "7")})})}),
         {"a1 ", "7", "3"}},
        {"no command, an empty command, a list-typed command: no entry",
         group("startup_list", {group("a", {prop("order", "1")}),
                                group("b", {prop("command", ""), prop("order", "2")}),
                                group("c", {listProperty}), group("d", {prop("command", "ok")})}),
         {"ok ", "50", "3"}},
        {"an empty list", group("startup_list", {}), {}},
        {"other properties are ignored",
         group("startup_list",
               {group("a", {prop("command", "x"), prop("icon", "y"), prop("name", "z")})}),
         {"x ", "50", "3"}},
    };
    for (const Case& c : cases) {
        PluginCommands commands;
        EXPECT_EQ(collect(c.list, commands), c.expected) << c.what;
    }
}

TEST(AppVisitor, RecordsEachCommandWithItsTrailingBlank) {
    PluginCommands commands;
    const Entries entries = collect(group("startup_list", {group("a", {prop("command", "xterm")}),
                                                           group("b", {prop("command", "xterm")})}),
                                    commands);
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[0], "xterm ");
    EXPECT_FALSE(commands.isCommand("xterm"));
    EXPECT_TRUE(commands.isCommand("xterm "));
    EXPECT_TRUE(commands.isCommand("xterm "));
    EXPECT_FALSE(commands.isCommand("xterm "));
}

}  // namespace
