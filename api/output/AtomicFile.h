// Replaces a file so that a reader sees either its old or its whole new content:
// the bytes go to a temporary file beside the target, are flushed to disk and
// renamed over it. A symbolic link is followed, so its target is replaced and
// the link stays; an existing file keeps its mode.
//
//   AtomicFile file("/home/u/tree.xml");
//   if (!file.open() || !file.write(text) || !file.commit()) {
//       Logger::error("Cannot write %s: %s\n", "/home/u/tree.xml", file.getError().c_str());
//   }
#pragma once

#include <string>

#include "model/HollinExport.h"

namespace vesk::legacy {

class HOLLIN_EXPORT AtomicFile {
  public:
    explicit AtomicFile(const std::string& fileName);
    // Removes the temporary file unless commit succeeded.
    ~AtomicFile();

    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file; false on failure (see getError).
    bool open();
    // True from a successful open until commit, discard or a failure.
    bool isOpen() const { return mFd >= 0; }
    // Buffers or writes the bytes; false when not open or a write failed, in
    // which case the temporary file is gone already.
    bool write(const std::string& bytes);
    // Writes the rest, syncs, closes and renames over the target. On failure
    // the temporary file is removed and the target left untouched.
    bool commit();
    // Drops the temporary file; the target stays as it was.
    void discard();

    // What went wrong last, for the log (system error text included).
    const std::string& getError() const { return mError; }

  private:
    bool flush();
    bool fail(const std::string& what, int error);
    bool resolveTarget();

    std::string mFileName;
    std::string mTarget;     // mFileName with symbolic links followed
    std::string mTemporary;  // empty while no temporary file exists
    std::string mBuffer;
    std::string mError;
    int mFd;
};

}  // namespace vesk::legacy
