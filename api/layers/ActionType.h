// SPDX-License-Identifier: LGPL-2.1-or-later
// ActionType: the kind of change reported to node listeners.
// Values are fixed because listeners and logs see them as numbers.
#pragma once

namespace vesk::legacy {

// A fixed underlying type, so that values outside the three below stay defined.
enum class ActionType : int {
    Added = 1,    // node added (replaceNode, replaceProperty)
    Removed = 2,  // node removed (removeNode)
    Changed = 4,  // node changed (modifyNode, modifyProperty)
};

}  // namespace vesk::legacy
