// SPDX-License-Identifier: LGPL-2.1-or-later
// ParserContext: the state of one XmlUpdateLayer::read. It turns the SAX1 parser's
// element and character callbacks into ITreeHandler events, and throws
// LayerLimitExceeded when the layer holds more than any policy may.
//
//   ParserContext context(handler);
//   context.startDocument();
//   context.startElement("prop", attributes, line);   // name/value pairs, null-terminated
//   context.characters(text, length);
//   context.endElement("prop");
//   context.endDocument();
//
// With a diagnostics sink (setDiagnostics) it also reports what it ignores,
// defaults or refuses; without one it reads exactly as fast as before.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/PropertyType.h"

namespace vesk::legacy {

class ILayerDiagnostics;
class ITreeHandler;
class LayerNotes;

class ParserContext {
  public:
    explicit ParserContext(ITreeHandler& handler);
    ~ParserContext();

    // Not owned; must outlive the read. Null stops the reports.
    void setDiagnostics(ILayerDiagnostics* sink);

    void startDocument();
    void endDocument();
    // attributes: name and value texts in turn, ending with a null name, as the
    // parser hands them over (null for an element without attributes). line is
    // only used to say where a broken element stands.
    void startElement(const char* name, const char* const* attributes, int line);
    void endElement(const char* name);
    void characters(const char* text, int length);
    // Whether characters would keep any text now: most text between elements
    // is line breaks that the reader can drop unseen.
    bool takesCharacters() const { return mInValue && mSkipDepth == 0; }

    // The current value text cut at every occurrence of the separator; empty
    // items stay, and the rest after the last separator is the last item.
    std::vector<std::string> getList() const;

    // The text of an attribute value as written: the parser hands "&" back as
    // "&#38;" when it does not substitute entities, and a bare "&" cannot occur
    // in its output otherwise, so every "&#38;" stands for one "&".
    static std::string attributeText(const char* raw);

    // The attributes of a node element, by their name after "zel:".
    enum class NodeAttribute { Name, Type, Operation, Finalised, Other };
    static NodeAttribute nodeAttributeOf(const char* bare);
    // Whether a value element reads the attribute ("separator", after "zel:").
    static bool isValueAttribute(const char* bare);
    // The type of a zel:type text; a missing or unknown one is xs:string, and
    // known (when not null) says whether the text named a type.
    static PropertyType typeFromText(const char* text, bool* known = nullptr);
    // The name a layer writes for the type: "xs:int", "zel:string-list".
    static const char* typeName(PropertyType type);

  private:
    enum class ElementKind { Structural, Property, Value, Other };
    static ElementKind kindOf(const char* name);
    // Sets text to the attribute value as written (see attributeText).
    static void assignAttributeText(std::string& text, const char* raw);

    // The texts of a node element's attributes; null for those it lacks.
    struct NodeTexts {
        const char* name = nullptr;
        const char* operation = nullptr;
        const char* finalised = nullptr;
        const char* type = nullptr;
    };
    static NodeTexts nodeTextsOf(const char* const* attributes);

    void startNode(ElementKind kind, const char* name, const char* const* attributes, int line);
    // Hands the started node to the handler as its operation says.
    void deliverNode(ElementKind kind, const NodeTexts& texts, int attributeBits);
    void startValue(const char* const* attributes, int line);
    void endValue();
    // Throws LayerLimitExceeded for a value of too many items.
    void splitValue(std::vector<std::string>& items) const;

    ITreeHandler* mHandler;
    bool mInValue;
    std::string mLocale;
    std::string mValueText;
    // The separator of the current value: " ", nothing, or mCustomSeparator.
    std::string_view mSeparator;
    std::string mCustomSeparator;
    // The current property's default separator is " " for list types, else none.
    bool mListProperty;
    // The name of the node being started, kept to reuse its memory.
    std::string mName;
    // The items of the last list value, kept to reuse their memory.
    std::vector<std::string> mItems;
    // Node events opened and not yet closed; at 0 the next node addresses the root.
    int mNodeDepth;
    // The path length below the root at each open node event, innermost last.
    std::vector<size_t> mPathBytes;
    // Above 0 while inside an element ignored for want of a name: counts the
    // open elements there, so that its end is found.
    int mSkipDepth;
    // Only while a diagnostics sink listens.
    std::unique_ptr<LayerNotes> mNotes;
    // Node elements and values of this layer, against LayerLimitExceeded's bounds.
    size_t mNodeCount = 0;
    size_t mValueCount = 0;
    // Separators seen in the current value so far.
    size_t mItemCount = 0;
};

}  // namespace vesk::legacy
