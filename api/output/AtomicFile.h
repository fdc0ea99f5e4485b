// SPDX-License-Identifier: LGPL-2.1-or-later
// The one way this system writes a file: the bytes go to a hidden temporary
// file beside the target, are flushed to disk and renamed over it, so a reader
// sees either the old or the whole new content.
//
// Modes: a replaced file keeps the mode of the regular file it replaces, less
// setuid, setgid, sticky and group or world write; a new file gets newFileMode
// (0644 unless the caller says otherwise, so tree files), narrowed by the
// umask and by the same rule. A symbolic link at the name is either followed,
// so its target is replaced and the link stays (Links::Follow, the default),
// or replaced itself by the new file (Links::Replace, for folders where anyone
// may plant links). Where the file must be new (Links::Refuse, for a folder
// just made that others may write into), any entry at the name, a link or a
// file, fails the write instead of lending the new file its owner and mode.
// Temporary names stay within NAME_MAX, and temporaries that a killed writer
// left behind are removed by the next write of the same file.
//
//   AtomicFile file("/home/u/tree.xml");
//   if (!file.open() || !file.write(text) || !file.commit()) {
//       Logger::error("Cannot write %s: %s\n", "/home/u/tree.xml", file.getError().c_str());
//   }
#pragma once

#include <sys/types.h>

#include <string>

#include "model/HollinExport.h"

namespace vesk::legacy {

class HOLLIN_EXPORT AtomicFile {
  public:
    enum class Links { Follow, Replace, Refuse };

    explicit AtomicFile(const std::string& fileName, mode_t newFileMode = 0644,
                        Links links = Links::Follow);
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

    // What went wrong last, for the log (system error text included), and
    // the system error number behind it (0 when there was none).
    const std::string& getError() const { return mError; }
    int getErrorNumber() const { return mErrorNumber; }

    // The mode a file replacing one of mode previous gets: the permission
    // bits without setuid, setgid, sticky and group or world write.
    static mode_t safeMode(mode_t previous);

  private:
    bool flush();
    bool fail(const std::string& what, int error);
    bool resolveTarget();
    void removeLeftovers(const std::string& stem) const;

    std::string mFileName;
    std::string mTarget;     // mFileName, with symbolic links followed if so asked
    std::string mTemporary;  // empty while no temporary file exists
    std::string mBuffer;
    std::string mError;
    int mErrorNumber = 0;
    mode_t mNewFileMode;
    Links mLinks;
    int mFd;
};

}  // namespace vesk::legacy
