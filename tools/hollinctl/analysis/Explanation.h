// SPDX-License-Identifier: LGPL-2.1-or-later
// What each layer of a stack did to one node: the value it tried to set, and
// what became of it -- applied, refused by an earlier lock (whose), ignored
// for its kind, or replaced by a later layer -- and where the node is locked.
//
//   Explanation why(layers, {"launcher_list", "terminal", "Exec"});
//   for (const Explanation::Row& row : why.rows()) ...
#pragma once

#include <string>
#include <vector>

#include "LayerInfo.h"

namespace vesk::legacy {
class PolicyLayer;
}

namespace vesk::legacy::hollinctl {

class Explanation {
  public:
    enum class Outcome { Silent, Applied, Refused, Ignored, Replaced, Removed, Same };

    struct Row {
        LayerInfo layer;
        bool mentions = false;  // the layer has the node (or a group above that holds it)
        std::string value;      // what it set, as dump shows values; "" for a group or none
        bool locks = false;     // the layer locks the node (or a group above)
        Outcome outcome = Outcome::Silent;
        int by = 0;  // the layer that locked it (Refused), set it (Replaced, Same), removed it
        std::string reason;  // Ignored: "xs:string on a zel:string-list"
    };

    Explanation(const std::vector<PolicyLayer>& layers, const std::vector<std::string>& names);

    const std::vector<Row>& rows() const { return mRows; }
    // The node exists in the merged tree.
    bool exists() const { return mExists; }
    // "applied", "refused", ...
    static const char* outcomeName(Outcome outcome);

  private:
    std::vector<Row> mRows;
    bool mExists = false;
};

}  // namespace vesk::legacy::hollinctl
