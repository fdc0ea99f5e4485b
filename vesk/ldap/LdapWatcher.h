// SPDX-License-Identifier: LGPL-2.1-or-later
// Turns the directory's own change reports into changes of components: one
// persistent search (LDAP content synchronisation, refreshAndPersist) per
// listening handle, on a connection of its own. A directory that cannot be
// reached at the start, or drops the connection later, is tried again in the
// background, the next server of the list first, with a short randomised
// backoff; once the new search has sent its initial content every component
// is compared, so changes made while it was away are delivered, each once.
//
//   LdapWatcher watcher(location, layout);
//   if (watcher.open() == PAPISuccess) { poll(watcher.fd()); watcher.process(true, changes); }
#pragma once

#include <ldap.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "ChangeSource.h"
#include "LdapLayout.h"
#include "LdapLocation.h"
#include "LdapSession.h"

namespace vesk::legacy::store {

class LdapWatcher : public ChangeSource {
  public:
    static constexpr size_t kNoServer = SIZE_MAX;

    // What the search has seen, shared with the reads of the same handle: the
    // server it runs on, and, once its initial content is complete, the
    // fingerprint ("entryCSN modifyTimestamp") of every layer entry of the
    // stack, kept current by its notices; so a change event costs the server
    // no search per listener to tell what changed.
    struct View {
        std::mutex mutex;
        size_t server = kNoServer;
        bool complete = false;
        bool base = false;                                             // the base entry is there
        std::map<std::pair<size_t, std::string>, std::string> layers;  // by scope and component
    };

    LdapWatcher(const LdapLocation& location, const LdapLayout& layout, std::shared_ptr<View> view);

    // Connects, binds and waits for the search's initial content. A server
    // that refuses the bind or cannot synchronise is a status here; one that
    // cannot be reached (or lacks the base entry) is tried again in the
    // background, the state listener told PAPIDisconnected.
    PAPIStatus open() override;
    int fd() const override { return mSearching ? mFd : -1; }
    Clock::time_point wakeAt() const override;
    void process(bool readable, Changes& changes) override;
    std::vector<PAPIConnectionState> takeStateChanges() override;

  private:
    enum class Outcome { Going, Ended };

    PAPIStatus start();
    void goOffline();
    void lose();
    void scheduleReconnect();
    Outcome take(LDAPMessage* message, Changes& changes, int& code);
    // An entry the search returned or changed, with its sync state.
    void takeEntry(LDAP* ldap, LDAPMessage* message, Changes& changes);
    // A sync info message: deletions by identifier, or the end of a refresh.
    void takeSyncInfo(LDAP* ldap, LDAPMessage* message, Changes& changes);
    void note(const std::string& dn, Changes& changes) const;
    // Keeps the view's entry of the DN: its fingerprint, or none (empty).
    void see(const std::string& dn, const std::string& fingerprint, bool gone);
    void setComplete(bool complete);

    LdapLayout mLayout;
    LdapSession mSession;
    const std::shared_ptr<View> mView;
    const std::string mBase;  // normalised
    int mMsgId = -1;
    int mFd = -1;
    bool mSearching = false;
    bool mRefreshing = false;
    bool mCompareAfterRefresh = false;
    // entryUUID -> DN of every entry the search reported: a renamed entry is
    // reported under its new DN only, and the old one changed as well.
    std::map<std::string, std::string> mEntries;
    Clock::time_point mReconnectAt = Clock::time_point::max();
    int mFailedAttempts = 0;  // reconnections scheduled since the search last ran
    std::minstd_rand mRandom;
    std::vector<PAPIConnectionState> mStates;
};

}  // namespace vesk::legacy::store
