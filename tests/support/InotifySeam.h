// Stands between a test binary and the kernel's inotify: after overflowNext(),
// the next read of an inotify descriptor begins with the event the kernel
// queues when it had to drop notices (IN_Q_OVERFLOW), as after a burst of
// thousands of changes, without making that burst.
//
//   inotifyseam::overflowNext();
//   ... touch any watched folder so that the watcher reads ...
#pragma once

namespace inotifyseam {

void overflowNext();

}  // namespace inotifyseam
