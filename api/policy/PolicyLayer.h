// SPDX-License-Identifier: LGPL-2.1-or-later
// A policy layer filtered to one node path: reading it plays only the events of
// the subtree at the path into the handler (see PolicyLayerWrapper). A value.
//
//   NodePath path;
//   path.setPath("org.example");          // no names: the whole layer
//   PolicyLayer layer(path, papiLayer);
//   layer.read(merger);
#pragma once

#include <utility>

#include "layers/IUpdateLayer.h"
#include "model/HollinExport.h"
#include "model/NodePath.h"
#include "policy/PapiLayer.h"

namespace vesk::legacy {

class HOLLIN_EXPORT PolicyLayer : public IUpdateLayer {
  public:
    PolicyLayer(const NodePath& path, const PapiLayer& layer) : mPath(path), mLayer(layer) {}
    // Takes the layer's text over instead of copying it.
    PolicyLayer(const NodePath& path, PapiLayer&& layer) : mPath(path), mLayer(std::move(layer)) {}

    // A layer that is not well-formed XML still delivers the events read before
    // the error; the error is logged once per read as a warning naming the
    // component and the layer's stamp. Exceptions of the handler pass through.
    void read(ITreeHandler& handler) const override;
    // The same without the log line: true for a layer read to its end,
    // otherwise false with *error (when not null) saying where it broke.
    bool read(ITreeHandler& handler, XmlUpdateLayer::ParseError* error) const;

    const NodePath& getPath() const { return mPath; }
    const PapiLayer& getLayer() const { return mLayer; }

  private:
    NodePath mPath;
    PapiLayer mLayer;
};

}  // namespace vesk::legacy
