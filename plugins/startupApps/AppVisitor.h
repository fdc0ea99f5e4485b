// SPDX-License-Identifier: LGPL-2.1-or-later
// Walks the configured startup list and turns each application into an entry
// triple (command and one blank, order, restart style) appended to an entry
// list, recording the command in a PluginCommands, and, when asked, into a
// list of applications with their node names.
//
//   AppVisitor visitor(entries, commands, &apps);
//   startupList->visit(visitor);
//   visitor.flush();                      // emits the last application
#pragma once

#include <string>
#include <vector>

#include "AutostartWriter.h"
#include "model/ConstNodeVisitor.h"

namespace vesk::legacy::plugins::startup {

class PluginCommands;

class AppVisitor : public ConstNodeVisitor {
  public:
    // None is owned; all must outlive the visitor. apps may be null.
    AppVisitor(std::vector<std::string>& entries, PluginCommands& commands,
               std::vector<StartupApp>* apps = nullptr);

    // A structural node other than "startup_list" begins a new application
    // (emitting the one before); "command" and "order" properties fill it.
    bool preChildrenProcess(const Node& node) override;
    bool postChildrenProcess(const Node& node) override;
    virtual ~AppVisitor();

    // Emits the application collected last. Call once after the walk.
    void flush();

  private:
    void emit();

    std::string mName;
    std::string mCommand;
    std::string mOrder;
    std::vector<std::string>* mEntries;
    PluginCommands* mCommands;
    std::vector<StartupApp>* mApps;
};

}  // namespace vesk::legacy::plugins::startup
