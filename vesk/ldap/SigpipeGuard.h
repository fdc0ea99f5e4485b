// SPDX-License-Identifier: LGPL-2.1-or-later
// Keeps a SIGPIPE, raised when a request is written to a connection the
// server has closed, from ending the host process: the signal is blocked in
// this thread while the guard lives and taken back if it was raised meanwhile.
// The process's own handling of SIGPIPE is left as it is.
//
//   { SigpipeGuard guard; ldap_search_ext(...); }
#pragma once

#include <signal.h>

namespace vesk::legacy::store {

class SigpipeGuard {
  public:
    SigpipeGuard();
    ~SigpipeGuard();
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

  private:
    sigset_t mPipe;
    sigset_t mSaved;
    bool mWasPending = false;
};

}  // namespace vesk::legacy::store
