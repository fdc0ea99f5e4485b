// SPDX-License-Identifier: LGPL-2.1-or-later
// "hollinctl check -r STORE": what in a file store can never apply, besides
// what check finds in each layer: folders in the wrong place ("group/" for
// "groups/"), files that are no layer (".XML", not a regular file, outside a
// scope folder), a host folder whose case differs from this host's name, and
// (as warnings) users and groups this system does not know.
//
//   for (const StoreLint::Finding& f : StoreLint::run("/etc/vesk/store")) print(f.where,
//   f.message);
#pragma once

#include <string>
#include <vector>

namespace vesk::legacy::hollinctl {

class StoreLint {
  public:
    struct Finding {
        std::string where;  // "STORE/groups/staff/x.xml" or with ":LINE[:COLUMN]"
        std::string message;
        bool warning = false;  // may still be right (a user of another machine)
        bool broken = false;   // a layer that cannot be read or is not well-formed
    };

    // Throws CommandError(kServiceError) when the store cannot be read.
    // betweenLayers: also what CrossLayerLint finds between the layers.
    static std::vector<Finding> run(const std::string& store, bool betweenLayers = false);
    // The layers of a policy directory (ldap://...): each as check checks it,
    // and between them; "where" is SCOPE/COMPONENT. Entries in no layer's
    // place are warnings.
    static std::vector<Finding> runDirectory(const std::string& url);
};

}  // namespace vesk::legacy::hollinctl
