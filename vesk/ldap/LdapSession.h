// SPDX-License-Identifier: LGPL-2.1-or-later
// One connection to the policy directory, to the first of the location's
// servers that answers (starting with the one used last), signed in as the
// location says: anonymous, a simple bind with the password read from its
// file at every bind (so a changed password is taken and no copy stays in
// memory), or SASL EXTERNAL over ldapi://. A password is sent only over
// ldaps://, StartTLS or ldapi://, unless VESK_LDAP_ALLOW_CLEARTEXT_BIND=1 (for
// test labs). TLS (ldaps://, StartTLS) always demands a server certificate
// that the CA vouches for. libldap's own configuration files and variables
// are not read; the CA is the location's, else the system ldap.conf's. Not thread-safe: its
// owner serialises the use.
//
//   LdapSession session(location);
//   if (session.open() == PAPISuccess) ldap_search_ext(session.get(), ...);
#pragma once

#include <ldap.h>
#include <sys/types.h>

#include <algorithm>
#include <string>

#include "LdapLocation.h"
#include "papi.h"

namespace vesk::legacy::store {

class LdapSession {
  public:
    // How long one request may take before the server counts as unreachable.
    static constexpr int kOperationSeconds = 10;

    // How long StartTLS and the bind may take: a server that accepts and
    // then says nothing holds a caller (or a watcher that papiDeinitialise
    // waits for) no longer than connecting plus this.
    static constexpr int kBindSeconds = 4;

    explicit LdapSession(LdapLocation location) : mLocation(std::move(location)) {}
    ~LdapSession();
    LdapSession(const LdapSession&) = delete;
    LdapSession& operator=(const LdapSession&) = delete;

    // Connects and binds, after closing what was open: 1 when no server can
    // be reached (or none proves who it is), 2 when one refuses the bind.
    PAPIStatus open();
    void close();
    // The server in use failed: the next open() starts with the one after it,
    // and comes back round to it only when the others fail too.
    void failOver();
    // The index of the server in use, or of the one the next open() tries first.
    size_t current() const { return mCurrent; }
    // The next open() starts with this server (an index into the location's list).
    void prefer(size_t index) {
        mCurrent = index % std::max<size_t>(1, mLocation.servers().size());
    }
    // Why the last open() failed, for the administrator: "<server>: <reason>"
    // for each server tried; empty after a success. Never holds a password.
    const std::string& failure() const { return mFailure; }
    // The connection, or null when there is none in this process (a forked
    // child never writes to its parent's connection).
    LDAP* get();
    // The connection's socket, or -1.
    int fd();

    // Whether VESK_LDAP_ALLOW_CLEARTEXT_BIND=1 lets a password go unencrypted.
    static bool cleartextBindAllowed();
    // Whether an error code means the connection is gone.
    static bool lostConnection(int code);
    // The status of a failed request (not of a bind).
    static PAPIStatus statusOf(int code);
    // The result code a search result message carries; LDAP_OTHER if unreadable.
    static int resultCode(LDAP* ldap, LDAPMessage* message);

  private:
    PAPIStatus openServer(const std::string& server, std::string& reason);
    // The connection's options: protocol, timeouts, keepalive, TLS where
    // used, and the callback that notes each connection made.
    void setOptions(const std::string& server, bool startTls);
    // Why opening server failed with status, in words for the administrator.
    std::string failureReason(const std::string& server, PAPIStatus status,
                              const std::string& passwordProblem, int error, bool tlsStarted);
    // passwordProblem: why the password file cannot be used, after its name.
    PAPIStatus bind(const std::string& server, std::string& passwordProblem);

    const LdapLocation mLocation;
    size_t mCurrent = 0;  // index of the server to try first
    std::string mFailure;
    LDAP* mLdap = nullptr;
    pid_t mOwner = 0;
    // Told by libldap of each connection it makes, at a fixed address.
    struct ldap_conncb mConnectCallback = {};
    bool mConnected = false;
};

}  // namespace vesk::legacy::store
