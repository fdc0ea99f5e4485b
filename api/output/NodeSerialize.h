// SPDX-License-Identifier: LGPL-2.1-or-later
// Writes a tree as a tree file, one element per line, when passed to the root's
// visit between open() and close(); Tree::serialize drives it. The file is
// replaced only by close() and only when every line was written; every failure
// is logged with the file's name.
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
    bool isOpen() const { return mStream.isOpen(); }

    void serializeValues(PropertyNode& property);

    // The text between list items: ";" unless an item holds one, else the
    // first of a few other characters, then of the private-use characters,
    // that no item holds. Empty when every candidate occurs.
    static std::string listSeparator(const std::vector<std::string>& items);

  private:
    bool write(const std::string& text);
    bool escape(const std::string& text, const Node& node, std::string& out);

    std::string mFileName;
    AtomicFile mStream;
};

}  // namespace vesk::legacy
