// SPDX-License-Identifier: LGPL-2.1-or-later
// Stands between a test binary and the kernel's inotify: after overflowNext(),
// the next read of an inotify descriptor begins with the event the kernel
// queues when it had to drop notices (IN_Q_OVERFLOW), as after a burst of
// thousands of changes, without making that burst; refuse() makes new
// instances or watches fail as when the user's limits are used up;
// watchesOn() tells when a watcher has placed a watch, so that a test waits
// for it instead of sleeping.
//
//   inotifyseam::overflowNext();
//   ... touch any watched folder so that the watcher reads ...
//   inotifyseam::refuse(EMFILE, 0);  // no instance; watches as the kernel gives them
//   waitUntil([&] { return inotifyseam::watchesOn(folder) > before; });
#pragma once

#include <cstddef>
#include <string>

namespace inotifyseam {

void overflowNext();
// From now on inotify_init1 fails with instanceError and inotify_add_watch
// with watchError; 0 leaves that call to the kernel. refuse(0, 0) ends it.
void refuse(int instanceError, int watchError);
// How many watches were placed on path (as the watcher names it) so far.
size_t watchesOn(const std::string& path);

}  // namespace inotifyseam
