// SPDX-License-Identifier: LGPL-2.1-or-later
// Takes every free byte of a volume while it lives (a small tmpfs that the
// test's mount namespace holds, see run-in-namespace.sh), so that writes
// there fail with "No space left on device".
//
//   testsupport::FullDisk full("/var/opt/filler");
//   EXPECT_TRUE(full.full());
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace testsupport {

class FullDisk {
  public:
    // Writes the filler file until the volume has no room left, down to the
    // last byte.
    explicit FullDisk(const std::string& filler) : mFiller(filler) {
        const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) {
            return;
        }
        const std::vector<char> block(65536, 'x');
        for (size_t size = block.size(); size > 0; size /= 2) {
            while (::write(fd, block.data(), size) == static_cast<ssize_t>(size)) {
            }
        }
        mFull = errno == ENOSPC;
        ::close(fd);
    }
    ~FullDisk() { ::unlink(mFiller.c_str()); }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    // Whether the volume ran out of room (not out of something else).
    bool full() const { return mFull; }

  private:
    std::string mFiller;
    bool mFull = false;
};

}  // namespace testsupport
