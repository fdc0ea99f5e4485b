// SPDX-License-Identifier: LGPL-2.1-or-later
#include "NodeLookup.h"

#include "model/NodePath.h"

namespace vesk::legacy::hollinctl {

NodeLookup::Names NodeLookup::namesOf(std::string_view path) {
    if (!path.empty() && path[0] == '/') {
        path.remove_prefix(1);
    }
    Names names;
    if (!path.empty()) {
        NodePath::forEachName(path, [&names](std::string_view name) {
            names.emplace_back(name);
            return true;
        });
    }
    return names;
}

std::string NodeLookup::pathText(const Names& names) {
    std::string path;
    for (const std::string& name : names) {
        path += "/" + name;
    }
    return path.empty() ? "/" : path;
}

}  // namespace vesk::legacy::hollinctl
