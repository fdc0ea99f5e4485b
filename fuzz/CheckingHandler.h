// SPDX-License-Identifier: LGPL-2.1-or-later
// An ITreeHandler that checks the event protocol of a tree comparison (one
// startTree, properly nested openings and ends, a removal closed at once,
// values only inside a property, one endTree) and passes every event on to
// another handler, if one is given. A broken protocol is a finding.
//
//   TreeMerger replay;
//   CheckingHandler checker("compare with empty", &replay);
//   newTree.substract(Tree(), checker);
//   if (checker.changes() == 0) { /* the trees were equal */ }
#pragma once

#include <string>
#include <vector>

#include "layers/ITreeHandler.h"

namespace vesk::legacy::fuzz {

class CheckingHandler : public ITreeHandler {
  public:
    // what names the comparison in findings; next is not owned, may be null.
    CheckingHandler(const std::string& what, ITreeHandler* next);

    // Events between startTree and endTree.
    size_t changes() const { return mChanges; }
    // Calls finding() unless startTree and endTree came and nothing is open.
    void checkComplete() const;

    HOLLIN_TREE_HANDLER_EVENTS

  private:
    enum class Open { Group, Property, Removal };

    void open(Open kind, const char* event);
    void close(Open kind, const char* event);
    void value(const char* event);
    void inTree(const char* event);

    std::string mWhat;
    ITreeHandler* mNext;
    std::vector<Open> mOpen;
    bool mStarted = false;
    bool mEnded = false;
    size_t mChanges = 0;
};

}  // namespace vesk::legacy::fuzz
