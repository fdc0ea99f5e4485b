// SPDX-License-Identifier: LGPL-2.1-or-later
#include "policy/PolicyLayer.h"

#include "model/LogText.h"
#include "model/Logger.h"
#include "policy/PolicyLayerWrapper.h"

namespace vesk::legacy {

bool PolicyLayer::read(ITreeHandler& handler, XmlUpdateLayer::ParseError* error) const {
    PolicyLayerWrapper wrapper(mPath, handler);
    return mLayer.read(wrapper, error);
}

void PolicyLayer::read(ITreeHandler& handler) const {
    XmlUpdateLayer::ParseError error;
    if (!read(handler, &error) && error.failed) {
        // Every text here comes from the service: arguments only, never the format.
        Logger::warning("Broken policy layer of component %s (%s), line %d, column %d: %s\n",
                        logText(mPath.getComponent()).c_str(), logText(mLayer.getStamp()).c_str(),
                        error.line, error.column, logText(error.message).c_str());
    }
}

}  // namespace vesk::legacy
