// SPDX-License-Identifier: LGPL-2.1-or-later
// The directory backend: the layers of one entity read from an LDAP directory
// laid out like the file store (see LdapLayout), with the same stacks,
// stamps and statuses, and watched through content synchronisation.
//
//   std::unique_ptr<Backend> backend;
//   PAPIStatus status = LdapStore::open("",
//   "ldap://ldap.example.org/ou=policy,dc=example,dc=org", backend);
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Backend.h"
#include "LdapLayout.h"
#include "LdapLocation.h"
#include "LdapSession.h"
#include "LdapWatcher.h"
#include "papi.h"

namespace vesk::legacy::store {

class LdapStore : public Backend {
  public:
    // A layer larger than this is refused, as in the file store.
    static constexpr size_t kMaxLayerSize = 64 * 1024 * 1024;

    // Checks the names, then that the directory accepts the bind. A directory
    // that cannot be reached now, or lacks the base entry, is a store not
    // there yet: the handle opens and its reads fail with status 1 until it is.
    static PAPIStatus open(const char* connectionString, const std::string& url,
                           std::unique_ptr<Backend>& backend);

    LdapStore(LdapLocation location, LdapLayout layout);

    PAPIStatus readLayers(const std::string& component, std::vector<Layer>& layers) override;
    PAPIStatus listComponentNames(const std::string& selector,
                                  std::vector<std::string>& names) override;
    Presence presence(const std::string& component) override;
    std::unique_ptr<ChangeSource> makeChangeSource() override;
    // Every change of an entry gives it a new entryCSN.
    bool exactFingerprints() const override { return true; }
    std::string failureDetail() override;

  private:
    // The server in use or to be tried next, for messages.
    std::string currentServer() const;
    struct Query {
        std::string base;
        int scope;
        std::string filter;
        std::vector<const char*> attributes;
    };
    struct Entry {
        std::string dn;
        std::map<std::string, std::vector<std::string>> values;  // by lower-case name
        bool oversized = false;  // a value larger than kMaxLayerSize, left out
    };
    struct Answer {
        int code = LDAP_OTHER;
        std::vector<Entry> entries;
    };

    // Sends all queries at once and collects their answers, reconnecting and
    // trying again once when the connection turns out to be gone (a server
    // restart, an idle timeout). Answers only with status 0; a base entry
    // that has gone is a connection failure, never "no layers".
    PAPIStatus run(const std::vector<Query>& queries, std::vector<Answer>& answers);
    PAPIStatus runLocked(const std::vector<Query>& queries, std::vector<Answer>& answers);
    PAPIStatus runOnce(const std::vector<Query>& queries, std::vector<Answer>& answers, int& lost);
    // The entries and result code of one query's answer.
    static PAPIStatus readAnswer(LDAP* ldap, LDAPMessage* result, Answer& answer);
    static bool readEntry(LDAP* ldap, LDAPMessage* message, Entry& entry);
    std::vector<Query> layerQueries(const std::string& component,
                                    const std::vector<const char*>& attributes) const;

    const LdapLocation mLocation;
    const LdapLayout mLayout;
    std::mutex mMutex;  // one request batch at a time on the session
    LdapSession mSession;
    // What the change search sees. Reads go to its server, or a replica that
    // lags behind would hide the change just reported; presence comes from
    // its layers while they are complete.
    const std::shared_ptr<LdapWatcher::View> mView;
    size_t mFollowed = LdapWatcher::kNoServer;  // the search's server last followed
    std::string mFailure;  // of the last batch that failed, cleared by a success
};

}  // namespace vesk::legacy::store
