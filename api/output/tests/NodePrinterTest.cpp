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

// root
//   apps (read-only)
//     cmd = "run %s" (read-only)
//     list = a, b
//   w = "x"
//   empty list (no items)
class NodePrinterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clearLog();
        auto* root = new StructuralNode("root");
        mTree.setRoot(root);
        auto* apps = new StructuralNode("apps");
        apps->setAttributes(Node::kReadOnly);
        root->adoptChild(*apps);
        auto* command = new PropertyNode("cmd", TypeString);
        command->setStringValue("run %s", "default");
        command->setAttributes(Node::kReadOnly);
        apps->adoptChild(*command);
        auto* list = new PropertyNode("list", TypeStringList);
        list->setListValue({"a", "b"}, "default");
        apps->adoptChild(*list);
        auto* writable = new PropertyNode("w", TypeString);
        writable->setStringValue("x", "default");
        root->adoptChild(*writable);
        root->adoptChild(*new PropertyNode("empty", TypeIntList));
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
        "\tProperty empty  \n"
        "\tProperty w  x\n",
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
                  "\tProperty empty  \n",
                  "\tProperty w  x\n",
              }),
              loggedMessages());
}

TEST_F(NodePrinterTest, LocalisedValuesShowTheDefaultLocale) {
    PropertyNode title("title", TypeString);
    title.setStringValue("Mail", "default");
    title.modifyLocalised(true);
    title.setStringValue("Post", "de");
    NodeLogger logger(Logger::Info);
    title.visit(logger);
    PropertyNode onlyGerman("t", TypeString);
    onlyGerman.localise();
    onlyGerman.setStringValue("Post", "de");
    onlyGerman.visit(logger);
    EXPECT_EQ((std::vector<std::string>{"Property title  Mail\n", "Property t  \n"}),
              loggedMessages());
}

}  // namespace
