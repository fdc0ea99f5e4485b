// SPDX-License-Identifier: LGPL-2.1-or-later
// One node of policy, held in the snapshot of its component, and whether the
// policy it came from was read in full. The snapshot never changes and lives
// while the copy does, so the copy may be taken and walked on any thread; the
// plug-ins write and retry from it without touching the facade again.
//
//   PolicyCopy copy = PolicyCopy::take(access, "com.orvek.ferrun.applications/launcher_list");
//   if (copy.node) copy.node->visit(constVisitor); ... copy.complete ...
#pragma once

#include <memory>
#include <string>

namespace vesk::legacy {
class ConfigurationAccess;
class Node;
class Tree;
}  // namespace vesk::legacy

namespace vesk::legacy::plugins {

struct PolicyCopy {
    // Null when there is no node at the path; keeps the whole snapshot alive.
    std::shared_ptr<const Node> node;
    // False for a kept copy, the layers before a broken one or an empty tree
    // served because the store could not be reached.
    bool complete = false;

    // Path: "component/name/...". Throws what reading the facade throws.
    static PolicyCopy take(const ConfigurationAccess& access, const std::string& path);
    // The same from a tree the caller has (a change's outcome), read in full or not.
    static PolicyCopy take(std::shared_ptr<const Tree> tree, bool complete,
                           const std::string& path);
};

}  // namespace vesk::legacy::plugins
