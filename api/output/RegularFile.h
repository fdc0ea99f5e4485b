// SPDX-License-Identifier: LGPL-2.1-or-later
// readRegularFile: a whole file read through one descriptor, for readers of
// files that anyone may have put in place. Only a regular file is read, so a
// FIFO or a device can neither hang nor flood the reader; so is a file above
// the caller's limit.
//
//   std::string text, problem;
//   if (!readRegularFile(path, kMaxLayerFile, "larger than 64 MiB", text, problem))
//       ... problem: the system's error text, "not a regular file" or tooLarge ...
#pragma once

#include <cstddef>
#include <string>

namespace vesk::legacy {

// True with the file's bytes in text; otherwise false with the reason in problem.
bool readRegularFile(const std::string& fileName, size_t limit, const std::string& tooLarge,
                     std::string& text, std::string& problem);

}  // namespace vesk::legacy
