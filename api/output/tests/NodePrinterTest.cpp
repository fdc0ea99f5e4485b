// SPDX-License-Identifier: LGPL-2.1-or-later
// The diagnostic lines of NodePrinter and NodeLogger, tabs and blanks included.
#include <gtest/gtest.h>

#include "SyslogSeam.h"
#include "TreeText.h"
#include "output/NodeLogger.h"
#include "output/NodePrinter.h"

using namespace outputtest;

namespace {

TEST(NodePrinterTest, PrinterAndLoggerLines) {
    syslogseam::clear();
    Tree tree;
    StructuralNode& top = root(tree, "root");
    StructuralNode& apps = group(top, "apps", Node::kReadOnly);
    property(apps, "cmd", TypeString, Node::kReadOnly).setStringValue("run %s", "default");
    property(apps, "list", TypeStringList).setListValue({"a", "b"}, "default");
    PropertyNode& title = property(top, "title", TypeString);
    title.setStringValue("x", "default");
    title.modifyLocalised(true);
    title.setStringValue("y", "de");
    property(top, "w", TypeInt);
    NodePrinter printer;
    ::testing::internal::CaptureStdout();
    tree.getRoot()->visit(printer);
    std::fflush(stdout);
    EXPECT_EQ(
        "Node root \n"
        "\tNode apps readonly\n"
        "\t\tProperty cmd readonly run %s\n"
        "\t\tProperty list  \n"
        "\t\t\ta\n"
        "\t\t\tb\n"
        "\tProperty title  x\n"
        "\tProperty w  \n",
        ::testing::internal::GetCapturedStdout());

    NodeLogger logger(Logger::Debug);
    tree.getRoot()->visit(logger);
    std::vector<std::string> lines;
    for (const auto& message : syslogseam::messages()) {
        lines.push_back(std::to_string(message.priority) + " " + message.text);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"7 Node root \n", "7 \tNode apps readonly\n",
                                               "7 \t\tProperty cmd readonly run %s\n",
                                               "7 \t\tProperty list  \n", "7 \tProperty title  x\n",
                                               "7 \tProperty w  \n"}));
}

}  // namespace
