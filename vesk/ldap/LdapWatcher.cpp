// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LdapWatcher.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

#include "SigpipeGuard.h"
#include "SyncProtocol.h"

namespace vesk::legacy::store {

namespace {

// Reconnecting waits at random, so that the desktops of a server that stops
// do not all arrive at the next one in the same instant, nor come back to a
// restarted one in step: the first attempt after a drop within 0.1-2 s, each
// later one within 1-3 s (about 0.5 attempts a second), so that a change made
// during an outage of any length arrives within a few seconds of its end.
const std::chrono::milliseconds kFirstWaitMin(100);
const std::chrono::milliseconds kFirstWaitMax(2000);
const std::chrono::milliseconds kWaitMin(1000);
const std::chrono::milliseconds kWaitMax(3000);

std::string firstValue(LDAP* ldap, LDAPMessage* entry, const char* name) {
    struct berval** values = ldap_get_values_len(ldap, entry, name);
    std::string first;
    if (values != nullptr && values[0] != nullptr) {
        first.assign(values[0]->bv_val, values[0]->bv_len);
    }
    ldap_value_free_len(values);
    return first;
}

// A DN as libldap writes it back, in lower case, so that two spellings of
// one DN compare equal; empty for no DN.
std::string normalised(const std::string& dn) {
    LDAPDN parsed = nullptr;
    char* text = nullptr;
    std::string result;
    if (ldap_str2dn(dn.c_str(), &parsed, LDAP_DN_FORMAT_LDAPV3) == LDAP_SUCCESS &&
        ldap_dn2str(parsed, &text, LDAP_DN_FORMAT_LDAPV3) == LDAP_SUCCESS && text != nullptr) {
        result = text;
    }
    ldap_memfree(text);
    ldap_dnfree(parsed);
    for (char& c : result) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return result;
}

// The end of a connection that libldap has not read yet.
bool peerClosed(int fd) {
    char byte = 0;
    return fd >= 0 && recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

}  // namespace

LdapWatcher::LdapWatcher(const LdapLocation& location, const LdapLayout& layout,
                         std::shared_ptr<View> view)
    : mLayout(layout),
      mSession(location),
      mView(std::move(view)),
      mBase(normalised(layout.baseDn())),
      mRandom(static_cast<unsigned>(getpid()) ^
              static_cast<unsigned>(Clock::now().time_since_epoch().count())) {}

PAPIStatus LdapWatcher::start() {
    mSearching = false;
    mRefreshing = false;
    mEntries.clear();
    {
        std::lock_guard<std::mutex> lock(mView->mutex);
        mView->complete = false;
        mView->base = false;
        mView->layers.clear();
    }
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
    char csn[] = "entryCSN";
    char modified[] = "modifyTimestamp";
    char* attributes[] = {csn, modified, nullptr};
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
    std::lock_guard<std::mutex> lock(mView->mutex);
    mView->server = mSession.current();
    return PAPISuccess;
}

PAPIStatus LdapWatcher::open() {
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

LdapWatcher::Clock::time_point LdapWatcher::wakeAt() const {
    return mSearching ? Clock::time_point::max() : mReconnectAt;
}

void LdapWatcher::process(bool readable, Changes& changes) {
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

std::vector<PAPIConnectionState> LdapWatcher::takeStateChanges() {
    std::vector<PAPIConnectionState> states;
    states.swap(mStates);
    return states;
}

void LdapWatcher::setComplete(bool complete) {
    std::lock_guard<std::mutex> lock(mView->mutex);
    mView->complete = complete;
}

void LdapWatcher::see(const std::string& dn, const std::string& fingerprint, bool gone) {
    std::lock_guard<std::mutex> lock(mView->mutex);
    if (normalised(dn) == mBase) {
        mView->base = !gone;
        return;
    }
    const LdapLayout::Place place = mLayout.locate(dn);
    if (place.kind != LdapLayout::Place::Kind::Layer) {
        return;
    }
    const auto key = std::make_pair(place.scope, place.component);
    if (gone) {
        mView->layers.erase(key);
    } else {
        mView->layers[key] = fingerprint;
    }
}

void LdapWatcher::goOffline() {
    setComplete(false);
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

void LdapWatcher::lose() {
    setComplete(false);
    mSession.failOver();
    mSearching = false;
    mRefreshing = false;
    mFd = -1;
    mStates.push_back(PAPIDisconnected);
    scheduleReconnect();
}

void LdapWatcher::scheduleReconnect() {
    const bool first = mFailedAttempts++ == 0;
    std::uniform_int_distribution<long long> spread((first ? kFirstWaitMin : kWaitMin).count(),
                                                    (first ? kFirstWaitMax : kWaitMax).count());
    mReconnectAt = Clock::now() + std::chrono::milliseconds(spread(mRandom));
}

LdapWatcher::Outcome LdapWatcher::take(LDAPMessage* message, Changes& changes, int& code) {
    LDAP* ldap = mSession.get();
    Outcome outcome = Outcome::Going;
    switch (ldap_msgtype(message)) {
        case LDAP_RES_SEARCH_ENTRY:
            takeEntry(ldap, message, changes);
            break;
        case LDAP_RES_INTERMEDIATE:
            takeSyncInfo(ldap, message, changes);
            break;
        case LDAP_RES_SEARCH_RESULT:
            code = LdapSession::resultCode(ldap, message);
            outcome = Outcome::Ended;
            break;
        default:
            break;
    }
    ldap_msgfree(message);
    return outcome;
}

void LdapWatcher::takeEntry(LDAP* ldap, LDAPMessage* message, Changes& changes) {
    char* text = ldap_get_dn(ldap, message);
    const std::string dn = text != nullptr ? text : "";
    ldap_memfree(text);
    LDAPControl** controls = nullptr;
    ldap_get_entry_controls(ldap, message, &controls);
    const LDAPControl* control = controls != nullptr
                                     ? ldap_control_find(LDAP_CONTROL_SYNC_STATE, controls, nullptr)
                                     : nullptr;
    SyncProtocol::State state = SyncProtocol::State::Present;
    std::string uuid;
    const bool known =
        control != nullptr && SyncProtocol::parseState(control->ldctl_value, state, uuid);
    ldap_controls_free(controls);
    if (!known) {
        // Something changed there, but which entry it was is unclear:
        // the view cannot be trusted until the next search.
        setComplete(false);
        if (!mRefreshing) {
            note(dn, changes);
            changes.structure = true;
        }
        return;
    }
    const auto before = mEntries.find(uuid);
    if (!mRefreshing) {
        if (before != mEntries.end() && before->second != dn) {
            note(before->second, changes);  // renamed: the old name changed too
        }
        note(dn, changes);
    }
    if (before != mEntries.end() && before->second != dn) {
        see(before->second, "", true);
    }
    const bool gone = state == SyncProtocol::State::Delete;
    see(dn,
        gone ? ""
             : firstValue(ldap, message, "entryCSN") + " " +
                   firstValue(ldap, message, "modifyTimestamp"),
        gone);
    if (gone) {
        if (before != mEntries.end()) {
            mEntries.erase(before);
        }
    } else {
        mEntries[uuid] = dn;
    }
}

void LdapWatcher::takeSyncInfo(LDAP* ldap, LDAPMessage* message, Changes& changes) {
    char* oid = nullptr;
    struct berval* data = nullptr;
    if (ldap_parse_intermediate(ldap, message, &oid, &data, nullptr, 0) == LDAP_SUCCESS &&
        oid != nullptr && std::strcmp(oid, LDAP_SYNC_INFO) == 0 && data != nullptr) {
        SyncProtocol::Info info;
        if (!SyncProtocol::parseInfo(*data, info)) {
            changes.structure = !mRefreshing;  // unreadable: compare everything
            setComplete(false);
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
                    see(entry->second, "", true);
                    mEntries.erase(entry);
                }
            }
        } else if (info.refreshDone && mRefreshing) {
            mRefreshing = false;
            mFailedAttempts = 0;
            setComplete(true);
            if (mCompareAfterRefresh) {
                // What changed while we were away is found by comparing.
                changes.structure = true;
                mCompareAfterRefresh = false;
            }
        }
    }
    ldap_memfree(oid);
    ber_bvfree(data);
}

void LdapWatcher::note(const std::string& dn, Changes& changes) const {
    const LdapLayout::Place place = mLayout.locate(dn);
    switch (place.kind) {
        case LdapLayout::Place::Kind::Layer:
            changes.components.insert(place.component);
            break;
        case LdapLayout::Place::Kind::Scope:
        case LdapLayout::Place::Kind::Container:
            changes.structure = true;
            break;
        case LdapLayout::Place::Kind::Elsewhere:
            break;
    }
}

}  // namespace vesk::legacy::store
