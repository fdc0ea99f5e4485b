// Finds what would make a layer file misbehave before it is deployed: the
// library's own reader parses it (malformed XML, with line and column) and its
// own merger builds it, while a scan of the elements finds what the reader
// silently reads another way: a node without "zel:name" (dropped with its
// content), unknown type names (read as xs:string), unknown operations (read as
// modify), unknown elements and attributes, two values for one locale, content
// of removed elements, and finalisations that protect nothing.
//
//   LayerChecker checker(text, LayerChecker::isMergedLast(fileName));
//   for (const LayerChecker::Finding& f : checker.check()) print(f.line, f.message);
#pragma once

#include <map>
#include <string>
#include <vector>

#include "LayerWords.h"

namespace vesk::legacy {
class Node;
}

namespace vesk::legacy::hollinctl {

class LayerChecker {
  public:
    struct Finding {
        int line;
        int column;  // 0 when only the line is known
        std::string message;
    };

    // mergedLast: the file belongs to a scope merged after every other one,
    // so no layer follows it for a finalisation to protect against.
    LayerChecker(std::string text, bool mergedLast);

    // Every finding, in order of line.
    std::vector<Finding> check();

    // Whether the file lies in a scope of the file store that is always merged
    // last: users/<user>/ or entities/<entity>/.
    static bool isMergedLast(const std::string& fileName);

    // The parser's callbacks; data is the checker.
    static void onStartElement(void* data, const unsigned char* name,
                               const unsigned char** attributes);
    static void onEndElement(void* data, const unsigned char* name);

  private:
    struct Frame {
        ElementKind kind;
        std::string element;  // as written
        std::string name;     // zel:name, for nodes
        int line;
        bool removed;                        // zel:op="remove"
        bool contentReported;                // that its content is ignored, reported once
        bool ignored;                        // the merger ignores this element
        std::map<std::string, int> locales;  // of a property: locale -> line of its value
    };
    // A node that its element finalises, to be looked up in the merged layer.
    struct Finalisation {
        std::vector<std::string> names;
        std::string what;
        int line;
    };

    void startElement(const std::string& element, const char* const* attributes, int line);
    // False for a node the reader drops (no name): skip its subtree.
    bool startNode(Frame& frame, const char* const* attributes, bool outermost);
    void startValue(Frame& frame, const char* const* attributes);
    void endElement();
    Frame* innermostNode();
    void reportIgnoredContent(Frame& frame, int line, const std::string& what);
    // Finalisations whose node is not finalised once the layer is merged.
    void checkFinalisations(Node* root);
    void add(int line, int column, const std::string& message);

    std::string mText;
    bool mMergedLast;
    void* mParser;
    std::vector<Frame> mFrames;
    std::vector<Finding> mFindings;
    std::vector<Finalisation> mFinalisations;
    int mNodeDepth;  // open node elements that the reader reports
    int mSkipDepth;  // above 0 inside a node the reader drops for want of a name
};

}  // namespace vesk::legacy::hollinctl
