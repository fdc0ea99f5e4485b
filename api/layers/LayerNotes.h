// SPDX-License-Identifier: LGPL-2.1-or-later
// The reader's account of one layer for an ILayerDiagnostics sink: ParserContext
// tells it each element as it has read it (with its own verdicts on names,
// types and operations), and it keeps the open elements to say what the
// merger will ignore: content of removals and of properties, second values
// for a locale, values with blanks around them, misspelt attributes.
//
//   LayerNotes notes(sink);
//   notes.startNode(LayerNotes::Kind::Property, "prop", attributes, fields, line, false);
//   notes.endElement();
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vesk::legacy {

class ILayerDiagnostics;

class LayerNotes {
  public:
    enum class Kind { Structural, Property, Value, Other };

    // The attributes of a node element as the reader understood them (raw
    // texts as the parser hands them; null when absent).
    struct NodeFields {
        const char* name = nullptr;
        const char* operation = nullptr;
        const char* type = nullptr;
        const char* finalised = nullptr;
        bool knownType = true;
        bool knownOperation = true;
    };

    explicit LayerNotes(ILayerDiagnostics& sink);

    // A node element without zel:name, which the reader drops with its content.
    void dropped(const char* element, const char* const* attributes, int line);
    void startNode(Kind kind, const char* element, const char* const* attributes,
                   const NodeFields& fields, int line, bool outermost);
    void startValue(const char* const* attributes, int line);
    void startOther(const char* element, int line);
    // The text of the value that just ended, as the handler received it.
    void endValue(const std::string& text);
    // The end of any element that was started here.
    void endElement();

  private:
    struct Frame {
        Kind kind;
        std::string element;  // as written
        std::string name;     // zel:name, for nodes
        int line;
        bool removed;                        // zel:op="remove"
        bool contentReported;                // that its content is ignored, reported once
        bool ignored;                        // the merger ignores this element
        std::map<std::string, int> locales;  // of a property: locale -> line of its value
    };

    Frame* innermostNode();
    void reportIgnoredContent(Frame& frame, int line, const std::string& what);
    // Attributes without the prefix that would mean something with it.
    void reportUnprefixed(const char* const* attributes, const char* const* words,
                          const std::string& where, int line);
    void finding(int line, const std::string& message);

    ILayerDiagnostics& mSink;
    std::vector<Frame> mFrames;
};

}  // namespace vesk::legacy
