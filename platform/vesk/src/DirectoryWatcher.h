// Turns the directory's own change reports into changes of components: one
// persistent search (LDAP content synchronisation, refreshAndPersist) per
// listening handle, on a connection of its own. When the connection drops it
// reconnects with backoff, and once the new search has sent its initial
// content asks for every component to be compared, so changes made while it
// was away are delivered, each once.
//
//   DirectoryWatcher watcher(location, layout);
//   if (watcher.open() == PAPISuccess) { poll(watcher.fd()); watcher.process(true, changes); }
#pragma once

#include <ldap.h>

#include <chrono>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "ChangeSource.h"
#include "DirectoryLayout.h"
#include "DirectoryLocation.h"
#include "LdapSession.h"

namespace vesk::legacy::store {

class DirectoryWatcher : public ChangeSource {
  public:
    DirectoryWatcher(const DirectoryLocation& location, const DirectoryLayout& layout);

    // Connects, binds and waits for the search's initial content: a server
    // that cannot be reached, refuses the bind or cannot synchronise is a
    // status here.
    PAPIStatus open() override;
    int fd() const override { return mSearching ? mFd : -1; }
    Clock::time_point wakeAt() const override;
    void process(bool readable, Changes& changes) override;
    std::vector<PAPIConnectionState> takeStateChanges() override;

  private:
    enum class Outcome { Going, Ended };

    PAPIStatus start();
    void lose();
    void scheduleReconnect();
    Outcome take(LDAPMessage* message, Changes& changes, int& code);
    void note(const std::string& dn, Changes& changes) const;

    DirectoryLayout mLayout;
    LdapSession mSession;
    int mMsgId = -1;
    int mFd = -1;
    bool mSearching = false;
    bool mRefreshing = false;
    bool mCompareAfterRefresh = false;
    // entryUUID -> DN of every entry the search reported: a renamed entry is
    // reported under its new DN only, and the old one changed as well.
    std::map<std::string, std::string> mEntries;
    Clock::time_point mReconnectAt = Clock::time_point::max();
    std::chrono::milliseconds mBackoff;
    std::minstd_rand mRandom;
    std::vector<PAPIConnectionState> mStates;
};

}  // namespace vesk::legacy::store
