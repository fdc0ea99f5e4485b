// SPDX-License-Identifier: LGPL-2.1-or-later
// What check -r finds between the layers of a store rather than in one: a
// layer whose values an earlier scope's lock turns away wherever both are in
// a stack, component names that differ by a letter or by case, and launcher
// or startup entries that a layer makes empty.
//
//   CrossLayerLint lint;
//   lint.add("groups/staff", "/etc/vesk/store/groups/staff/org.x.xml", "org.x", text);
//   lint.run(findings);
#pragma once

#include <map>
#include <string>
#include <vector>

#include "StoreLint.h"

namespace vesk::legacy::hollinctl {

class CrossLayerLint {
  public:
    // A layer read in full and well-formed.
    void add(const std::string& scope, const std::string& path, const std::string& component,
             const std::string& text);
    void run(std::vector<StoreLint::Finding>& out) const;

  private:
    struct Layer {
        std::string scope;
        std::string path;
        std::string text;
    };
    void lintLocks(const std::string& component, const std::vector<Layer>& layers,
                   std::vector<StoreLint::Finding>& out) const;

    std::map<std::string, std::vector<Layer>> mComponents;
};

}  // namespace vesk::legacy::hollinctl
