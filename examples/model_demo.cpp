// SPDX-License-Identifier: LGPL-2.1-or-later
// A small tour of the configuration model: builds a tree, walks it, parses an
// address and logs along the way (VESKLEG_LOG=1 copies the log to stderr).
#include <cstdio>
#include <string>
#include <vector>

#include "model/Exception.h"
#include "model/Logger.h"
#include "model/NodePath.h"
#include "model/NodeVisitor.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

using namespace vesk::legacy;

namespace {

// Prints each node indented by its depth, with its values.
class Printer : public NodeVisitor {
  public:
    bool preChildrenProcess(Node& node) override {
        std::printf("%*s%s [attributes %d]", mDepth * 2, "", node.getName().c_str(),
                    node.getAttributes());
        if (PropertyNode* property = node.asPropertyNode()) {
            std::vector<std::string> locales;
            property->getLocales(locales);
            for (const std::string& locale : locales) {
                std::printf(" %s=", locale.c_str());
                if (property->isList()) {
                    for (const std::string& item : property->getListValue(locale)) {
                        std::printf("[%s]", item.c_str());
                    }
                } else {
                    std::printf("\"%s\"", property->getStringValue(locale).c_str());
                }
            }
        }
        std::printf("\n");
        ++mDepth;
        return true;
    }
    bool postChildrenProcess(Node&) override {
        --mDepth;
        return true;
    }
    virtual ~Printer() = default;

  private:
    int mDepth = 0;
};

PropertyNode& addProperty(StructuralNode& parent, const std::string& name, PropertyType type) {
    auto* property = new PropertyNode(name, type);
    parent.adoptChild(*property);
    return *property;
}

StructuralNode& addGroup(StructuralNode& parent, const std::string& name) {
    auto* group = new StructuralNode(name);
    parent.adoptChild(*group);
    return *group;
}

}  // namespace

int main(int argc, char** argv) {
    // Keeps the printed tree and the log copy on stderr in order.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Logger::initialise("Halvorn");
    try {
        const std::string address = argc > 1 ? argv[1]
                                             : "com.orvek.ferrun.applications/"
                                               "launcher_list/mail/title";
        Tree tree;
        auto* root = new StructuralNode("com.orvek.ferrun.applications");
        tree.setRoot(root);
        StructuralNode& mail = addGroup(addGroup(*root, "launcher_list"), "mail");
        PropertyNode& title = addProperty(mail, "title", TypeString);
        title.setStringValue("Mail", "default");
        title.modifyLocalised(true);
        title.setStringValue("Post", "de");
        addProperty(mail, "command", TypeStringList).setListValue({"mailer", "--new"}, "default");
        addGroup(*root, "startup_list").modifyAttributes(Node::kFinalised);
        Logger::notice("Built a tree for %s\n", root->getName().c_str());

        Printer printer;
        tree.getRoot()->visit(printer);

        NodePath path;
        path.setPath(address);
        Logger::info("Parsed \"%s\": component=%s, path=%s, %zu names\n", address.c_str(),
                     path.getComponent().c_str(), path.getPath().c_str(), path.getNames().size());
        if (path.getComponent() != root->getName()) {
            throw Exception("No tree for component " + path.getComponent());
        }
        Node* node = StructuralNode::findPath(root, path.getNames());
        if (!node) {
            throw Exception("No node at " + path.getPath());
        }
        Logger::error("Found node %s (this message is at level Error, so it is always copied)\n",
                      node->getName().c_str());
    } catch (const Exception& e) {
        Logger::error("%s\n", e.getMessage().c_str());
    }
    Logger::uninitialise();
    return 0;
}
