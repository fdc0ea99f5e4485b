// SPDX-License-Identifier: LGPL-2.1-or-later
// What hollinctl check says about a tree of the settings component: keys no
// installed schema knows (with the nearest known name), values dconf would
// not be given (type, range, choices), and locks a database of the site's
// own profile holds already.
//
//   for (const std::string& warning : SettingsCheck::run(tree.getRoot())) print(warning);
#pragma once

#include <set>
#include <string>
#include <vector>

namespace vesk::legacy {
class Node;
class PropertyNode;
}  // namespace vesk::legacy

namespace vesk::legacy::settings {

class SettingsCheck {
  public:
    static std::vector<std::string> run(const Node* root);
    // The locks of the system databases the site's default profile names.
    static std::set<std::string> siteLocks(const std::vector<std::string>& databases,
                                           const std::string& root = "/etc/dconf/db");
    // "dconf key /org/.../lock-delay, written as uint32 300" (or why it is
    // not written), for get and dump; names below the component.
    static std::string describe(const std::vector<std::string>& names,
                                const PropertyNode& property);
};

}  // namespace vesk::legacy::settings
