// The visitor over hand-built startup lists: which applications become
// entries, in which order, with which priority.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "AppVisitor.h"
#include "PluginCommands.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"

namespace {

using namespace vesk::legacy;
using Entries = std::vector<std::string>;

Node* prop(const std::string& name, const std::string& value, PropertyType type = TypeString) {
    auto* node = new PropertyNode(name, type);
    node->setStringValue(value, "default");
    node->setListValue({value}, "default");  // ignored for a scalar, as the text is for a list
    return node;
}

Node* group(const std::string& name, const std::vector<Node*>& children) {
    auto* node = new StructuralNode(name);
    for (Node* child : children) {
        node->adoptChild(*child);
    }
    return node;
}

Entries collect(Node* list, plugins::startup::PluginCommands& commands) {
    std::unique_ptr<Node> owner(list);
    Entries entries;
    plugins::startup::AppVisitor visitor(entries, commands);
    owner->visit(visitor);
    visitor.flush();
    return entries;
}

TEST(AppVisitor, TurnsApplicationsIntoEntries) {
    const struct {
        const char* what;
        Node* list;
        Entries expected;
    } cases[] = {
        {"node-name order, not by order value; default priority 50",
         group("startup_list", {group("b", {prop("command", "xbiff"), prop("order", "10")}),
                                group("a", {prop("command", "xload")})}),
         {"xload ", "50", "3", "xbiff ", "10", "3"}},
        {"a property before the first application: empty order",
         group("startup_list", {prop("command", "early"), group("z", {prop("command", "late")})}),
         {"early ", "", "3", "late ", "50", "3"}},
        // In "outer" the children come as command, inner, order: the order
        // counts for inner, the application begun last.
        {"an inner structural node begins the next application",
         group("startup_list", {group("outer", {prop("command", "outer"), prop("order", "5"),
                                                group("inner", {prop("command", "inner")})})}),
         {"outer ", "50", "3", "inner ", "5", "3"}},
        {"a nested startup_list neither emits nor resets",
         group("startup_list", {group("app", {prop("command", "a1"),
                                              group("startup_list", {prop("order", "7")})})}),
         {"a1 ", "7", "3"}},
        {"no, an empty or a list-typed command: no entry; other properties ignored",
         group("startup_list", {group("a", {prop("order", "1")}), group("b", {prop("command", "")}),
                                group("c", {prop("command", "x", TypeStringList)}),
                                group("d", {prop("command", "ok"), prop("icon", "i")})}),
         {"ok ", "50", "3"}},
        {"an empty list", group("startup_list", {}), {}},
    };
    for (const auto& c : cases) {
        plugins::startup::PluginCommands commands;
        EXPECT_EQ(collect(c.list, commands), c.expected) << c.what;
    }
}

}  // namespace
