// Failure injection for the plug-in's system calls. The namespace test binary
// links with -Wl,--wrap=kioskRename (and the rest), so each call passes here
// first and fails while a matching fault is armed.
//
//   armFault("mkdir", kTempApplicationStorage, EROFS);  // every such mkdir fails
//   clearFaults();
#pragma once

#include <string>

// call: rename, mkdir, chown, chmod, open, unlink, write, close, system.
// path: the first path argument ("from -> to" for rename; for write and close
// the file the descriptor is open on; for system the command); "" matches any.
void armFault(const std::string& call, const std::string& path, int error);
void clearFaults();
