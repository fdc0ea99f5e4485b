// SPDX-License-Identifier: LGPL-2.1-or-later
// Told by the layer reader where it reads a layer another way than it is
// written: what it ignores, defaults or refuses, with the line (and the
// column where the parser knows it). "hollinctl check" is built on it.
//
//   XmlUpdateLayer layer(text, size);
//   layer.read(merger, &error, &diagnostics);   // findings land in diagnostics
#pragma once

#include <string>
#include <vector>

#include "model/HollinExport.h"

namespace vesk::legacy {

class HOLLIN_EXPORT ILayerDiagnostics {
  public:
    virtual ~ILayerDiagnostics() = default;

    // column is 0 where only the line is known. message is plain text that
    // quotes the layer's own names: escape it before showing it on a terminal.
    virtual void onFinding(int line, int column, const std::string& message) = 0;
    // A node this layer finalises, by its names below the root; what names the
    // element ("<prop> \"browser\""). Whether it holds is the merged tree's to say.
    virtual void onFinalisation(const std::vector<std::string>& names, const std::string& what,
                                int line) = 0;
};

}  // namespace vesk::legacy
