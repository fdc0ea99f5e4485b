// SPDX-License-Identifier: LGPL-2.1-or-later
#include "AppVisitor.h"

#include "ExecLine.h"
#include "PluginCommands.h"
#include "StartupConstants.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"

namespace vesk::legacy::plugins::startup {

namespace {
const char kLocale[] = "default";
}

AppVisitor::AppVisitor(std::vector<std::string>& entries, PluginCommands& commands,
                       std::vector<StartupApp>* apps)
    : mEntries(&entries), mCommands(&commands), mApps(apps) {}

AppVisitor::~AppVisitor() = default;

bool AppVisitor::preChildrenProcess(const Node& node) {
    if (const StructuralNode* group = node.asStructuralNode()) {
        if (group->getName() != kRootNode) {
            if (!mCommand.empty()) {
                emit();
            }
            mName = group->getName();
            mCommand.clear();
            mOrder = kDefaultOrder;
        }
    } else if (const PropertyNode* property = node.asPropertyNode()) {
        if (property->getName() == kCommand) {
            mCommand = property->getStringValue(kLocale);
        } else if (property->getName() == kOrder) {
            mOrder = property->getStringValue(kLocale);
        }
    }
    return true;
}

bool AppVisitor::postChildrenProcess(const Node&) {
    return true;
}

void AppVisitor::flush() {
    if (!mCommand.empty()) {
        emit();
    }
}

void AppVisitor::emit() {
    if (mApps != nullptr) {
        mApps->push_back({mName, mCommand, mOrder});
    }
    // A command that does not split is no autostart entry either (the
    // autostart writer says why): both lists hold the same applications.
    std::string exec, why;
    if (!ExecLine::quote(mCommand, exec, why)) {
        return;
    }
    // Earlier runs recorded every command with this trailing blank; keeping it
    // lets this run recognise the entries they wrote.
    mCommand += ' ';
    mEntries->push_back(mCommand);
    mEntries->push_back(mOrder);
    mEntries->push_back(kDefaultStyle);
    mCommands->addCommand(mCommand);
}

}  // namespace vesk::legacy::plugins::startup
