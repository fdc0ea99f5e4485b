// SPDX-License-Identifier: LGPL-2.1-or-later
// What a PolicyAccess calls when the policy service reports that a component's
// layers changed. Calls arrive on the service's thread.
//
//   class Facade : public IPolicyListener {
//       void onComponentModify(const std::string& component) const override { rebuild(component); }
//       ...
//   };
//   access.addListener(path, &facade);
#pragma once

#include <string>

#include "model/HollinExport.h"

namespace vesk::legacy {

class HOLLIN_EXPORT IPolicyListener {
  public:
    // The component had no layers and now has some.
    virtual void onComponentAdd(const std::string& component) const = 0;
    // The component had layers and now has none.
    virtual void onComponentRemove(const std::string& component) const = 0;
    // Any other change of the component's layers.
    virtual void onComponentModify(const std::string& component) const = 0;
    virtual ~IPolicyListener() = default;
};

}  // namespace vesk::legacy
