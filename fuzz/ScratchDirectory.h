// SPDX-License-Identifier: LGPL-2.1-or-later
// One private directory per fuzzing process for the files the targets write,
// on a memory file system where there is one (an fsync there costs nothing),
// removed with its content when the process ends.
//
//   const std::string file = ScratchDirectory::path() + "/tree.xml";
#pragma once

#include <string>

namespace vesk::legacy::fuzz {

class ScratchDirectory {
  public:
    // Created on first use; a process that cannot create it aborts, since no
    // target can run without it.
    static const std::string& path();

  private:
    ScratchDirectory();
    ~ScratchDirectory();

    std::string mPath;
};

}  // namespace vesk::legacy::fuzz
