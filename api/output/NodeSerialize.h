// SPDX-License-Identifier: LGPL-2.1-or-later
// Writes a tree as a tree file, one element per line, when passed to the root's
// visit between open() and close(); Tree::serialize drives it. The file is
// replaced only by close() and only when every line was written; every failure
// is logged with the file's name. toText writes the same lines into a string.
//
//   NodeSerialize writer("/var/tmp/tree.xml");
//   writer.open();
//   root->visit(writer);
//   writer.close();
#pragma once

#include <string>
#include <vector>

#include "model/HollinExport.h"
#include "model/NodeVisitor.h"
#include "output/AtomicFile.h"

namespace vesk::legacy {

class PropertyNode;

class HOLLIN_EXPORT NodeSerialize : public NodeVisitor {
  public:
    explicit NodeSerialize(const std::string& fileName);
    // A new file gets newFileMode; links at the name are treated as links says.
    NodeSerialize(const std::string& fileName, mode_t newFileMode, AtomicFile::Links links);
    // Without close() the old file stays as it was.
    virtual ~NodeSerialize();

    // The node's opening line (and a property's values); false, writing
    // nothing, once the stream is not open.
    bool preChildrenProcess(Node& node) override;
    // The node's closing line; false once the stream is not open.
    bool postChildrenProcess(Node& node) override;

    // Starts the new file with the header line.
    void open();
    // Puts the new file in place of the old one; false when it is not (logged).
    bool close();
    bool isOpen() const { return mToText ? mTextOpen : mStream.isOpen(); }

    void serializeValues(PropertyNode& property);

    // The text between list items: ";" unless an item holds one, else the
    // first of a few other characters, then of the private-use characters,
    // that no item holds. Empty when every candidate occurs.
    static std::string listSeparator(const std::vector<std::string>& items);

    // The tree file of the tree at root (null: the header alone) as text,
    // nothing logged. False, with the reason in problem, when root is a
    // property or a name, value or locale cannot be written.
    static bool toText(const Node* root, std::string& text, std::string& problem);

  private:
    NodeSerialize();  // into mText

    bool write(const std::string& text);
    bool escape(const std::string& text, const Node& node, std::string& out);
    // Ends the writing for good: the file stays as it was, the text is dropped.
    void fail(const std::string& reason);

    std::string mFileName;
    AtomicFile mStream;
    bool mToText = false;
    bool mTextOpen = false;
    std::string mText;
    std::string mProblem;
};

}  // namespace vesk::legacy
