// SPDX-License-Identifier: LGPL-2.1-or-later
// XmlUpdateLayer: a layer held as update-layer XML text, read with libxml2's SAX1
// parser into handler events.
//
//   XmlUpdateLayer layer(data, size);
//   XmlUpdateLayer::ParseError error;
//   layer.read(merger, &error);      // false: broken layer, error says where
//   if (error.failed) Logger::warning("...line %d: %s\n", error.line, error.message.c_str());
//
// A broken document still delivers the events read before the error. Exceptions
// thrown by the handler stop the parser and pass through read to its caller.
// No DTD or external entity is ever loaded.
#pragma once

#include <string>

#include "layers/IUpdateLayer.h"
#include "model/HollinExport.h"

namespace vesk::legacy {

class ILayerDiagnostics;

class HOLLIN_EXPORT XmlUpdateLayer : public IUpdateLayer {
  public:
    // The parser's first error in a layer: where it was found and libxml2's text
    // for it (untrusted: log it as a "%s" argument, never as a format).
    struct ParseError {
        bool failed = false;
        int line = 0;
        int column = 0;
        std::string message;  // without a trailing line end
    };

    // Copies size bytes from data.
    XmlUpdateLayer(const char* data, int size);

    // Plays the layer into handler; a parse error is dropped.
    void read(ITreeHandler& handler) const override;
    // The same, reporting a parse error: returns true for a well-formed layer;
    // otherwise false, with *error (when not null) filled in. *error is reset first.
    bool read(ITreeHandler& handler, ParseError* error) const;
    // The same, telling diagnostics (when not null) what the reader ignores,
    // defaults or refuses on the way.
    bool read(ITreeHandler& handler, ParseError* error, ILayerDiagnostics* diagnostics) const;

    const std::string& getText() const { return mText; }

  private:
    std::string mText;
};

}  // namespace vesk::legacy
