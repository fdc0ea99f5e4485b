// SPDX-License-Identifier: LGPL-2.1-or-later
// Every layer entry of a policy directory (VESK_POLICY_STORE=ldap://...) with
// the scope and component its place names, read in one subtree search, signed
// in as libvesk signs in: what "hollinctl export" writes into a store folder.
//
//   for (const DirectoryLayers::Layer& layer : DirectoryLayers::read(url, skipped)) ...
#pragma once

#include <string>
#include <vector>

namespace vesk::legacy::hollinctl {

class DirectoryLayers {
  public:
    struct Layer {
        std::string scope;  // "default", "groups/staff", ...
        std::string component;
        std::string text;
    };

    // Entries in no layer's place, or whose names cannot be file names, go
    // into skipped with the reason. Throws CommandError when the directory
    // cannot be reached or searched.
    static std::vector<Layer> read(const std::string& url, std::vector<std::string>& skipped);
};

}  // namespace vesk::legacy::hollinctl
