// SPDX-License-Identifier: LGPL-2.1-or-later
// One layer as the policy service delivers it: the update-layer XML text (read
// like any XmlUpdateLayer) and the stamp that says where the layer came from.
// A value: copied into vectors and into PolicyLayer objects.
#pragma once

#include <string>

#include "layers/XmlUpdateLayer.h"
#include "model/HollinExport.h"

namespace vesk::legacy {

class HOLLIN_EXPORT PapiLayer : public XmlUpdateLayer {
  public:
    // Copies size bytes from data (no terminating NUL needed) and the stamp.
    // Null data or a size below 1 gives an empty text.
    PapiLayer(const char* data, int size, const std::string& stamp);

    // Kept for diagnostics only, for example "users/alice 1733500000".
    const std::string& getStamp() const { return mStamp; }

  private:
    std::string mStamp;
};

}  // namespace vesk::legacy
