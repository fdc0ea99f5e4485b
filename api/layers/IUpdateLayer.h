// SPDX-License-Identifier: LGPL-2.1-or-later
// IUpdateLayer: one layer of a component, which plays its changes as events into
// an ITreeHandler. It can be read any number of times.
#pragma once

#include "model/HollinExport.h"

namespace vesk::legacy {

class ITreeHandler;

class HOLLIN_EXPORT IUpdateLayer {
  public:
    virtual void read(ITreeHandler& handler) const = 0;
    virtual ~IUpdateLayer() = default;
};

}  // namespace vesk::legacy
