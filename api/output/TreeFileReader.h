// SPDX-License-Identifier: LGPL-2.1-or-later
// Reads a tree file, as NodeSerialize writes it, into a TreeMerger. Beyond what
// a policy layer says it takes the writer's own words, so that a tree comes
// back whole: "xs:...-list" types, "zel:readonly" and "zel:finalised" (set on a
// node once its content is read, since a read-only node takes no values), every
// "xml:lang" as a locale of a localised property, and "zel:items" for the empty
// list forms. The layer vocabulary ("zel:op", "zel:finalized", "zel:...-list")
// keeps its meaning. No DTD is accepted and no entity is loaded.
//
//   TreeMerger merger;
//   std::string problem;
//   bool complete = TreeFileReader(text).read(merger, problem);
//   std::unique_ptr<Tree> tree = merger.takeTree();  // the caller's, complete or not
#pragma once

#include <string>

namespace vesk::legacy {

class TreeMerger;

class TreeFileReader {
  public:
    // text: the file's bytes with its line feeds already removed.
    explicit TreeFileReader(std::string text);

    // Plays the document into a fresh merger. True when it was read to its
    // end; otherwise false with the reason in problem (the parser's message
    // is untrusted text: log it as a "%s" argument). Either way every element
    // left open is closed, so whatever root was started is the merger's tree
    // and the caller's to free; an exception from the merger passes on after
    // that.
    bool read(TreeMerger& merger, std::string& problem) const;

  private:
    std::string mText;
};

}  // namespace vesk::legacy
