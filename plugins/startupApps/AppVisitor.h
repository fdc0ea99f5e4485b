// Walks the configured startup list and turns each application into an entry
// triple (command and one blank, order, restart style) appended to an entry
// list, recording the command in a PluginCommands.
//
//   AppVisitor visitor(entries, commands);
//   startupList->visit(visitor);
//   visitor.flush();                      // emits the last application
#pragma once

#include <string>
#include <vector>

#include "model/NodeVisitor.h"

namespace vesk::legacy::plugins::startup {

class PluginCommands;

class AppVisitor : public NodeVisitor {
  public:
    // Neither is owned; both must outlive the visitor.
    AppVisitor(std::vector<std::string>& entries, PluginCommands& commands);

    // A structural node other than "startup_list" begins a new application
    // (emitting the one before); "command" and "order" properties fill it.
    bool preChildrenProcess(Node& node) override;
    bool postChildrenProcess(Node& node) override;
    virtual ~AppVisitor();

    // Emits the application collected last. Call once after the walk.
    void flush();

  private:
    void emit();

    std::string mCommand;
    std::string mOrder;
    std::vector<std::string>* mEntries;
    PluginCommands* mCommands;
};

}  // namespace vesk::legacy::plugins::startup
