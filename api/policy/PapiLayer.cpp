// SPDX-License-Identifier: LGPL-2.1-or-later
#include "policy/PapiLayer.h"

namespace vesk::legacy {

PapiLayer::PapiLayer(const char* data, int size, const std::string& stamp)
    : XmlUpdateLayer(data != nullptr && size > 0 ? data : "",
                     data != nullptr && size > 0 ? size : 0),
      mStamp(stamp) {}

}  // namespace vesk::legacy
