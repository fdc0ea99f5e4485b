// SPDX-License-Identifier: LGPL-2.1-or-later
#include "Connection.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <system_error>

#include "FailureDetail.h"
#include "ScopeStack.h"

namespace vesk::legacy::store {

namespace {

using Clock = std::chrono::steady_clock;

// The first change after the files have been quiet this long is delivered at
// once; the rest of its burst (an editor saving, cp of a tree) becomes one
// more event once the files have been quiet this long again ...
const std::chrono::milliseconds kQuietPeriod(100);
// ... but a steady stream of writes still gets its event this soon.
const std::chrono::milliseconds kMaxDelay(1000);
// A component whose layers could not be looked at is tried again after this,
// twice as long each time it still fails.
const std::chrono::milliseconds kFirstRetryDelay(1000);
const std::chrono::milliseconds kMaxRetryDelay(30000);

// Listener ids are tokens, never addresses, and never repeat in a process,
// so a stale id cannot name a later listener.
std::atomic<std::uintptr_t> sNextListenerId{0x1000};

// The watcher thread takes no signals: they belong to the host's threads.
class AllSignalsBlocked {
  public:
    AllSignalsBlocked() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &mSaved);
    }
    ~AllSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &mSaved, nullptr); }
    AllSignalsBlocked(const AllSignalsBlocked&) = delete;
    AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;

  private:
    sigset_t mSaved;
};

}  // namespace

Connection::Connection(std::unique_ptr<Backend> backend, PAPIConnectionListener stateListener,
                       void* stateData)
    : mBackend(std::move(backend)),
      mStateListener(stateListener),
      mStateData(stateData),
      mWatcher(mBackend->makeChangeSource()),
      mRetryDelay(kFirstRetryDelay) {}

Connection::~Connection() {
    if (mThread && mThread->joinable()) {
        if (getpid() == mThreadOwner) {
            mThread->detach();  // never std::terminate from a destructor
        } else {
            mThread.release();  // a forked child's copy of a thread it does not have
        }
    }
    if (mWakeFd >= 0) {
        close(mWakeFd);
    }
}

bool Connection::onWatcherThread() const {
    return std::this_thread::get_id() == mThreadId;
}

PAPIStatus Connection::addListener(const std::string& component, PAPIListener listener,
                                   void* userData, std::uintptr_t& id) {
    if (listener == nullptr || !ScopeStack::isValidName(component)) {
        return PAPIInvalidArg;
    }
    std::lock_guard<std::mutex> lock(mMutex);
    if (mStopping) {
        return PAPIInvalidArg;
    }
    if (!mWatching) {
        const PAPIStatus status = startWatcher();
        if (status != PAPISuccess) {
            return status;
        }
    }
    ComponentState& state = mComponents[component];
    if (state.listeners == 0) {
        const Backend::Presence presence = mBackend->presence(component);
        state.hadLayers = presence.hasLayers && !presence.unreachable;
        state.unreachable = presence.unreachable;
        state.fingerprint = presence.fingerprint;
        if (presence.unreachable) {
            // Looked at again from time to time as well: a store that comes
            // back by a mount gives no notice.
            if (mRetry.empty()) {
                mRetryAt = Clock::now() + mRetryDelay;
                wake();
            }
            mRetry.insert(component);
        }
    }
    id = sNextListenerId.fetch_add(0x10);
    mListeners[id] = Listener{component, listener, userData};
    ++state.listeners;
    return PAPISuccess;
}

// Exempt from UBSan's type check, which needs a spare file descriptor of its
// own: a watch that fails for want of descriptors is one of the cases here.
__attribute__((no_sanitize("vptr"))) PAPIStatus Connection::startWatcher() {
    PAPIStatus status = mWatcher->open();
    int wakeFd = -1;
    if (status == PAPISuccess) {
        wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd < 0) {
            status = FailureDetail::failWithErrno(
                errno == ENOMEM ? PAPIOutOfMemoryFailure : PAPIUnknownFailure,
                "cannot listen for changes: eventfd", errno);
        }
    }
    if (status == PAPISuccess) {
        try {
            AllSignalsBlocked blocked;
            mThread = std::make_unique<std::thread>([self = shared_from_this()] { self->run(); });
        } catch (const std::system_error& failure) {
            close(wakeFd);
            status = FailureDetail::fail(
                PAPIUnknownFailure, std::string("cannot listen for changes: ") + failure.what());
        }
    }
    if (status != PAPISuccess) {
        return status;  // the next listener opens the source again
    }
    // The thread waits for mMutex, held by our caller, before it looks at these.
    mWakeFd = wakeFd;
    mWatching = true;
    mThreadId = mThread->get_id();
    mThreadOwner = getpid();
    return PAPISuccess;
}

PAPIStatus Connection::removeListener(std::uintptr_t id) {
    std::unique_lock<std::mutex> lock(mMutex);
    const auto found = mListeners.find(id);
    if (found == mListeners.end()) {
        return PAPIInvalidArg;
    }
    const auto state = mComponents.find(found->second.component);
    if (state != mComponents.end() && --state->second.listeners <= 0) {
        mComponents.erase(state);
    }
    mListeners.erase(found);
    // From inside its own callback the wait would never end.
    if (!onWatcherThread()) {
        mChanged.wait(lock, [this, id] { return mCallbackListener != id; });
    }
    return PAPISuccess;
}

bool Connection::polling() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mWatching && mWatcher->polling();
}

void Connection::requestStop() {
    std::lock_guard<std::mutex> lock(mMutex);
    mStopping = true;
    wake();
}

void Connection::wake() {
    if (mWakeFd >= 0) {
        const uint64_t one = 1;
        const ssize_t written = write(mWakeFd, &one, sizeof one);
        static_cast<void>(written);  // a full counter wakes the thread as well
    }
}

void Connection::shutdown() {
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mStopping = true;
        if (mShutdownClaimed) {
            return;
        }
        mShutdownClaimed = true;
    }
    requestStop();
    // No thread can be started any more: addListener refuses once stopping.
    // A forked child holds a copy of the thread object but not the thread.
    if (!mThread || !mThread->joinable() || getpid() != mThreadOwner) {
        return;
    }
    if (onWatcherThread()) {
        // Called from a callback: the thread ends when the callback returns
        // and keeps this object alive until then.
        mThread->detach();
    } else {
        mThread->join();
    }
}

void Connection::finishBefore(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mMutex);
    if (mShutdownClaimed || !mThread || !mThread->joinable() || onWatcherThread() ||
        getpid() != mThreadOwner) {
        return;
    }
    if (!mChanged.wait_until(lock, deadline, [this] { return mFinished; })) {
        return;
    }
    mShutdownClaimed = true;
    lock.unlock();
    mThread->join();
}

int Connection::pollTimeout() {
    std::lock_guard<std::mutex> lock(mMutex);
    Clock::time_point due = mWatcher->wakeAt();
    if (mBatchOpen) {
        due = std::min(due, batchDue());
    }
    if (!mRetry.empty()) {
        due = std::min(due, mRetryAt);
    }
    for (const auto& component : mComponents) {
        due = std::min(due, settledAt(component.second));
    }
    if (due == Clock::time_point::max()) {
        return -1;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(std::min<long long>(left + 1, 60 * 60 * 1000));
}

void Connection::run() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            if (mStopping) {
                break;
            }
        }
        const int timeout = pollTimeout();
        // A source without a descriptor for now (a directory being reconnected)
        // leaves only the wake-up to wait on; poll ignores a negative fd.
        struct pollfd fds[2] = {{mWatcher->fd(), POLLIN, 0}, {mWakeFd, POLLIN, 0}};
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) {
            std::this_thread::sleep_for(kQuietPeriod);  // do not spin on a failing poll
            continue;
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0;
            const ssize_t got = read(mWakeFd, &count, sizeof count);
            static_cast<void>(got);
        }
        {
            std::lock_guard<std::mutex> lock(mMutex);
            if (mStopping) {
                break;
            }
        }
        ChangeSource::Changes changes;
        mWatcher->process(fds[0].fd >= 0 && fds[0].revents != 0, changes);
        if (!changes.empty()) {
            takeChanges(changes);
        }
        std::vector<Call> calls = stateCalls();
        std::vector<Call> changed = collectCalls();
        calls.insert(calls.end(), changed.begin(), changed.end());
        if (!calls.empty()) {
            dispatch(calls);
        }
    }
    std::lock_guard<std::mutex> lock(mMutex);
    mFinished = true;
    mChanged.notify_all();
}

void Connection::takeChanges(const ChangeSource::Changes& changes) {
    std::lock_guard<std::mutex> lock(mMutex);
    mPending.components.insert(changes.components.begin(), changes.components.end());
    mPending.structure = mPending.structure || changes.structure;
    mPending.overflow = mPending.overflow || changes.overflow;
    const Clock::time_point now = Clock::now();
    if (!mBatchOpen) {
        mBatchOpen = true;
        mFirstChange = now;
        mLeadingEdge = now - mLastActivity >= kQuietPeriod;
    }
    // Delivered at once, a removal before its replacement would be applied:
    // launchers deleted only to be written again a moment later.
    mLeadingEdge = mLeadingEdge && !changes.settling;
    mLastChange = now;
    mLastActivity = now;
}

Clock::time_point Connection::batchDue() const {
    if (mLeadingEdge) {
        return mFirstChange;
    }
    return std::min(mLastChange + kQuietPeriod, mFirstChange + kMaxDelay);
}

std::vector<Connection::Call> Connection::stateCalls() {
    std::vector<Call> calls;
    for (PAPIConnectionState state : mWatcher->takeStateChanges()) {
        if (mStateListener != nullptr) {
            calls.push_back(Call{0, nullptr, mStateData, std::string(), 0, mStateListener, state});
        }
    }
    return calls;
}

// Decides, per watched component, whether and how it changed. The type
// compares "had layers before" with "has layers now". While the backend
// cannot be read nothing is reported (a reader would only get errors); the
// component is looked at again later, and once it can be read, the components
// whose layers differ from before get their event.
std::vector<Connection::Call> Connection::collectCalls() {
    std::lock_guard<std::mutex> lock(mMutex);
    std::vector<Call> calls;
    if (mStopping) {
        return calls;
    }
    const Clock::time_point now = Clock::now();
    const bool batchReady = mBatchOpen && now >= batchDue();
    const bool retryDue = !mRetry.empty() && now >= mRetryAt;
    const bool settled =
        std::any_of(mComponents.begin(), mComponents.end(),
                    [&](const auto& entry) { return now >= settledAt(entry.second); });
    if (!batchReady && !retryDue && !settled) {
        return calls;
    }
    ChangeSource::Changes pending;
    if (batchReady) {
        mBatchOpen = false;
        mLeadingEdge = false;
        pending = std::move(mPending);
        mPending = ChangeSource::Changes();
    }
    std::set<std::string> retry;
    if (retryDue) {
        retry.swap(mRetry);
    }
    const bool retryScheduled = !mRetry.empty();
    const bool exact = mBackend->exactFingerprints();
    bool failed = false;
    for (auto& entry : mComponents) {
        const std::string& component = entry.first;
        ComponentState& state = entry.second;
        // A change notice of the component itself counts (with exact
        // fingerprints only if they moved: the notice may have been seen by
        // an earlier comparison already); scopes that came or went count
        // where they changed the component's layers. A file written into a
        // folder before the folder was watched is found that way too,
        // possibly half written; its close then gives a second event.
        const bool named = pending.overflow || pending.components.count(component) != 0;
        const bool compare =
            pending.structure || retry.count(component) != 0 || now >= settledAt(state);
        if (!named && !compare) {
            continue;
        }
        const int type = eventOf(component, state, named && !exact, now, failed);
        if (type == kNoEvent) {
            continue;
        }
        for (const auto& listener : mListeners) {
            if (listener.second.component == component) {
                calls.push_back(Call{listener.first, listener.second.callback,
                                     listener.second.userData, component, type, nullptr,
                                     PAPIConnected});
            }
        }
    }
    if (failed && !retryScheduled) {
        mRetryAt = now + mRetryDelay;
        mRetryDelay = std::min(mRetryDelay * 2, kMaxRetryDelay);
    } else if (!failed && retryDue) {
        mRetryDelay = kFirstRetryDelay;
    }
    return calls;
}

int Connection::eventOf(const std::string& component, ComponentState& state, bool notified,
                        Clock::time_point now, bool& failed) {
    const Backend::Presence presence = mBackend->presence(component);
    if (presence.unreachable) {
        mRetry.insert(component);
        state.unreachable = true;
        state.removedSince = Clock::time_point();  // the retry looks again
        failed = true;
        return kNoEvent;
    }
    if (holdRemoval(state, presence, now)) {
        return kNoEvent;
    }
    // Back from a store that could not be read: one event, since the
    // listener may hold nothing or an older copy of its own.
    const bool returned = state.unreachable;
    state.unreachable = false;
    if (!returned && presence.fingerprint == state.fingerprint && !notified) {
        return kNoEvent;
    }
    state.fingerprint = presence.fingerprint;
    const bool has = presence.hasLayers;
    if (!returned && !state.hadLayers && !has) {
        return kNoEvent;
    }
    const int type =
        has ? (state.hadLayers ? PAPIEventComponentModified : PAPIEventComponentAdded)
            : (state.hadLayers ? PAPIEventComponentRemoved : PAPIEventComponentModified);
    state.hadLayers = has;
    return type;
}

// A layer that vanished cannot be told at once from one an editor renamed
// away and is about to write back. Until it has stayed away for the settling
// time the component hears nothing (a read would give the stack without it);
// a layer that comes back ends the wait as an ordinary change. Changes and
// additions alone are never held.
bool Connection::holdRemoval(ComponentState& state, const Backend::Presence& presence,
                             Clock::time_point now) {
    const std::chrono::milliseconds settling = mBackend->removalSettling();
    bool vanished = false;
    if (settling.count() > 0 && presence.fingerprint.size() == state.fingerprint.size()) {
        for (size_t i = 0; i < presence.fingerprint.size(); ++i) {
            vanished =
                vanished || (!state.fingerprint[i].empty() && presence.fingerprint[i].empty());
        }
    }
    if (!vanished) {
        state.removedSince = Clock::time_point();
        return false;
    }
    if (state.removedSince == Clock::time_point()) {
        state.removedSince = now;
    }
    if (now < state.removedSince + settling) {
        return true;
    }
    state.removedSince = Clock::time_point();
    return false;
}

Clock::time_point Connection::settledAt(const ComponentState& state) const {
    return state.removedSince == Clock::time_point()
               ? Clock::time_point::max()
               : state.removedSince + mBackend->removalSettling();
}

// One callback at a time, with no lock held, so that a callback may read
// layers, add or remove listeners, or close the handle.
void Connection::dispatch(const std::vector<Call>& calls) {
    for (const Call& call : calls) {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            if (mStopping) {
                return;
            }
            if (call.stateCallback == nullptr && mListeners.find(call.id) == mListeners.end()) {
                continue;  // removed by an earlier callback of this batch
            }
            mCallbackListener = call.id;
        }
        const PAPIEvent event{call.type, call.component.c_str()};
        try {
            if (call.stateCallback != nullptr) {
                call.stateCallback(call.state, call.userData);
            } else {
                call.callback(&event, call.userData);
            }
        } catch (...) {
            // A C++ callback that throws must not end the watcher.
        }
        std::lock_guard<std::mutex> lock(mMutex);
        mCallbackListener = 0;
        mChanged.notify_all();
    }
}

}  // namespace vesk::legacy::store
