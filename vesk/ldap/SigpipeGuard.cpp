// SPDX-License-Identifier: LGPL-2.1-or-later
#include "SigpipeGuard.h"

#include <pthread.h>

#include <ctime>

namespace vesk::legacy::store {

namespace {

bool pipePending() {
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

SigpipeGuard::SigpipeGuard() {
    sigemptyset(&mPipe);
    sigaddset(&mPipe, SIGPIPE);
    mWasPending = pipePending();
    pthread_sigmask(SIG_BLOCK, &mPipe, &mSaved);
}

SigpipeGuard::~SigpipeGuard() {
    // A SIGPIPE pending before us belongs to somebody else and stays.
    if (!mWasPending && pipePending()) {
        const struct timespec none = {0, 0};
        sigtimedwait(&mPipe, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &mSaved, nullptr);
}

}  // namespace vesk::legacy::store
