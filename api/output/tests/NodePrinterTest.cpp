// The diagnostic lines of NodePrinter and NodeLogger, tabs and blanks included.
#include <gtest/gtest.h>

#include "TreeText.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"
#include "output/NodeLogger.h"
#include "output/NodePrinter.h"

using namespace vesk::legacy;
using namespace outputtest;

namespace {

class NodePrinterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clearLog();
        StructuralNode& top = root(mTree, "root");
        StructuralNode& apps = group(top, "apps", Node::kReadOnly);
        property(apps, "cmd", TypeString, Node::kReadOnly).setStringValue("run %s", "default");
        property(apps, "list", TypeStringList).setListValue({"a", "b"}, "default");
        PropertyNode& title = property(top, "title", TypeString);
        title.setStringValue("x", "default");
        title.modifyLocalised(true);
        title.setStringValue("y", "de");
        property(top, "w", TypeInt);
    }

    Tree mTree;
};

TEST_F(NodePrinterTest, PrinterLines) {
    NodePrinter printer;
    ::testing::internal::CaptureStdout();
    mTree.getRoot()->visit(printer);
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
}

TEST_F(NodePrinterTest, LoggerLinesAtItsLevel) {
    NodeLogger logger(Logger::Debug);
    mTree.getRoot()->visit(logger);
    EXPECT_EQ((std::vector<std::string>{
                  "Node root \n",
                  "\tNode apps readonly\n",
                  "\t\tProperty cmd readonly run %s\n",
                  "\t\tProperty list  \n",
                  "\tProperty title  x\n",
                  "\tProperty w  \n",
              }),
              loggedMessages());
}

}  // namespace
