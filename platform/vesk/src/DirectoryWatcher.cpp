#include "DirectoryWatcher.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "SigpipeGuard.h"
#include "SyncProtocol.h"

namespace vesk::legacy::store {

namespace {

// Reconnecting starts soon and slows down to this, so that a change made
// during an outage of any length arrives within a few seconds of its end.
// Each wait is drawn from the last two thirds of the current backoff, so a
// fleet does not come back to a restarted server in step: capped, a desktop
// tries once every 1-3 s (about 0.5 attempts a second).
const std::chrono::milliseconds kFirstBackoff(250);
const std::chrono::milliseconds kMaxBackoff(3000);
// A server that accepts and then says nothing holds the watcher (and so a
// papiDeinitialise waiting for it) no longer than connecting plus this.
const int kOperationSeconds = 4;

// The end of a connection that libldap has not read yet.
bool peerClosed(int fd) {
    char byte = 0;
    return fd >= 0 && recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

}  // namespace

DirectoryWatcher::DirectoryWatcher(const DirectoryLocation& location, const DirectoryLayout& layout,
                                   std::shared_ptr<std::atomic<size_t>> watched)
    : mLayout(layout),
      mSession(location, kOperationSeconds),
      mWatched(std::move(watched)),
      mBackoff(kFirstBackoff),
      mRandom(static_cast<unsigned>(getpid()) ^
              static_cast<unsigned>(Clock::now().time_since_epoch().count())) {}

PAPIStatus DirectoryWatcher::start() {
    mSearching = false;
    mRefreshing = false;
    mEntries.clear();
    const PAPIStatus opened = mSession.open();
    if (opened != PAPISuccess) {
        return opened;
    }
    LDAPControl* control = SyncProtocol::makeRequest();
    if (control == nullptr) {
        mSession.close();
        return PAPIOutOfMemoryFailure;
    }
    LDAPControl* controls[] = {control, nullptr};
    char noAttributes[] = "1.1";
    char* attributes[] = {noAttributes, nullptr};
    const std::string filter = mLayout.changeFilter();
    SigpipeGuard guard;
    const int code = ldap_search_ext(mSession.get(), mLayout.baseDn().c_str(), LDAP_SCOPE_SUBTREE,
                                     filter.c_str(), attributes, 0, controls, nullptr, nullptr,
                                     LDAP_NO_LIMIT, &mMsgId);
    ldap_control_free(control);
    if (code != LDAP_SUCCESS) {
        mSession.close();
        return LdapSession::statusOf(code);
    }
    mFd = mSession.fd();
    mSearching = true;
    mRefreshing = true;
    mWatched->store(mSession.current());
    return PAPISuccess;
}

PAPIStatus DirectoryWatcher::open() {
    const PAPIStatus started = start();
    if (started == PAPIConnectionFailure) {
        goOffline();
        return PAPISuccess;
    }
    if (started != PAPISuccess) {
        return started;
    }
    SigpipeGuard guard;
    Changes before;  // the initial content is the state listeners start from
    while (mRefreshing) {
        struct timeval timeout = {LdapSession::kOperationSeconds, 0};
        LDAPMessage* message = nullptr;
        const int got = ldap_result(mSession.get(), mMsgId, LDAP_MSG_ONE, &timeout, &message);
        int code = LDAP_SUCCESS;
        if (got <= 0 || take(message, before, code) == Outcome::Ended) {
            if (got <= 0) {
                ldap_msgfree(message);
            }
            // A search the server ends at once: no base entry (the store is
            // not there yet), or a directory that cannot synchronise.
            if (got <= 0 || LdapSession::lostConnection(code) || code == LDAP_NO_SUCH_OBJECT) {
                goOffline();
                return PAPISuccess;
            }
            mSession.close();
            mSearching = false;
            mRefreshing = false;
            return PAPIUnknownFailure;
        }
    }
    return PAPISuccess;
}

DirectoryWatcher::Clock::time_point DirectoryWatcher::wakeAt() const {
    return mSearching ? Clock::time_point::max() : mReconnectAt;
}

void DirectoryWatcher::process(bool readable, Changes& changes) {
    if (mSearching && readable) {
        int taken = 0;
        for (;;) {
            struct timeval now = {0, 0};
            LDAPMessage* message = nullptr;
            const int got = ldap_result(mSession.get(), mMsgId, LDAP_MSG_ONE, &now, &message);
            if (got == 0) {
                if (taken == 0 && peerClosed(mFd)) {
                    lose();
                }
                break;
            }
            int code = LDAP_SUCCESS;
            if (got < 0) {
                ldap_msgfree(message);
                lose();
                break;
            }
            ++taken;
            if (take(message, changes, code) == Outcome::Ended) {
                lose();
                break;
            }
        }
    }
    if (!mSearching && Clock::now() >= mReconnectAt) {
        if (start() == PAPISuccess) {
            mStates.push_back(PAPIConnected);
            mCompareAfterRefresh = true;
            mReconnectAt = Clock::time_point::max();
        } else {
            scheduleReconnect();
        }
    }
}

std::vector<PAPIConnectionState> DirectoryWatcher::takeStateChanges() {
    std::vector<PAPIConnectionState> states;
    states.swap(mStates);
    return states;
}

void DirectoryWatcher::goOffline() {
    mSession.close();
    mSearching = false;
    mRefreshing = false;
    mFd = -1;
    // Whatever the directory holds once it answers is compared with what
    // listeners were given meanwhile (errors, or nothing).
    mCompareAfterRefresh = true;
    mStates.push_back(PAPIDisconnected);
    scheduleReconnect();
}

void DirectoryWatcher::lose() {
    mSession.failOver();
    mSearching = false;
    mRefreshing = false;
    mFd = -1;
    mStates.push_back(PAPIDisconnected);
    scheduleReconnect();
}

void DirectoryWatcher::scheduleReconnect() {
    std::uniform_int_distribution<long long> spread(mBackoff.count() / 3, mBackoff.count());
    mReconnectAt = Clock::now() + std::chrono::milliseconds(spread(mRandom));
    mBackoff = std::min(mBackoff * 2, kMaxBackoff);
}

DirectoryWatcher::Outcome DirectoryWatcher::take(LDAPMessage* message, Changes& changes,
                                                 int& code) {
    LDAP* ldap = mSession.get();
    Outcome outcome = Outcome::Going;
    switch (ldap_msgtype(message)) {
        case LDAP_RES_SEARCH_ENTRY: {
            char* text = ldap_get_dn(ldap, message);
            const std::string dn = text != nullptr ? text : "";
            ldap_memfree(text);
            LDAPControl** controls = nullptr;
            ldap_get_entry_controls(ldap, message, &controls);
            const LDAPControl* control =
                controls != nullptr ? ldap_control_find(LDAP_CONTROL_SYNC_STATE, controls, nullptr)
                                    : nullptr;
            SyncProtocol::State state = SyncProtocol::State::Present;
            std::string uuid;
            const bool known =
                control != nullptr && SyncProtocol::parseState(control->ldctl_value, state, uuid);
            ldap_controls_free(controls);
            if (!known) {
                // Something changed there, but which entry it was is unclear.
                if (!mRefreshing) {
                    note(dn, changes);
                    changes.structure = true;
                }
                break;
            }
            const auto before = mEntries.find(uuid);
            if (!mRefreshing) {
                if (before != mEntries.end() && before->second != dn) {
                    note(before->second, changes);  // renamed: the old name changed too
                }
                note(dn, changes);
            }
            if (state == SyncProtocol::State::Delete) {
                if (before != mEntries.end()) {
                    mEntries.erase(before);
                }
            } else {
                mEntries[uuid] = dn;
            }
            break;
        }
        case LDAP_RES_INTERMEDIATE: {
            char* oid = nullptr;
            struct berval* data = nullptr;
            if (ldap_parse_intermediate(ldap, message, &oid, &data, nullptr, 0) == LDAP_SUCCESS &&
                oid != nullptr && std::strcmp(oid, LDAP_SYNC_INFO) == 0 && data != nullptr) {
                SyncProtocol::Info info;
                if (!SyncProtocol::parseInfo(*data, info)) {
                    changes.structure = !mRefreshing;  // unreadable: compare everything
                } else if (info.idSet) {
                    for (const std::string& uuid : info.uuids) {
                        const auto entry = mEntries.find(uuid);
                        if (!info.refreshDeletes) {
                            continue;
                        }
                        if (entry == mEntries.end()) {
                            changes.structure = !mRefreshing;
                        } else {
                            note(entry->second, changes);
                            mEntries.erase(entry);
                        }
                    }
                } else if (info.refreshDone && mRefreshing) {
                    mRefreshing = false;
                    mBackoff = kFirstBackoff;
                    if (mCompareAfterRefresh) {
                        // What changed while we were away is found by comparing.
                        changes.structure = true;
                        mCompareAfterRefresh = false;
                    }
                }
            }
            ldap_memfree(oid);
            ber_bvfree(data);
            break;
        }
        case LDAP_RES_SEARCH_RESULT:
            code = LDAP_OTHER;
            if (ldap_parse_result(ldap, message, &code, nullptr, nullptr, nullptr, nullptr, 0) !=
                LDAP_SUCCESS) {
                code = LDAP_OTHER;
            }
            outcome = Outcome::Ended;
            break;
        default:
            break;
    }
    ldap_msgfree(message);
    return outcome;
}

void DirectoryWatcher::note(const std::string& dn, Changes& changes) const {
    const DirectoryLayout::Place place = mLayout.locate(dn);
    switch (place.kind) {
        case DirectoryLayout::Place::Kind::Layer:
            changes.components.insert(place.component);
            break;
        case DirectoryLayout::Place::Kind::Scope:
        case DirectoryLayout::Place::Kind::Container:
            changes.structure = true;
            break;
        case DirectoryLayout::Place::Kind::Elsewhere:
            break;
    }
}

}  // namespace vesk::legacy::store
