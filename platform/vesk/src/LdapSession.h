// One connection to the policy directory, signed in as the location says:
// anonymous, a simple bind with the password read from its file at every
// bind (so a changed password is taken and no copy stays in memory), or SASL
// EXTERNAL over ldapi://. Server certificates are checked as libldap does by
// default. Not thread-safe: its owner serialises the use.
//
//   LdapSession session(location);
//   if (session.open() == PAPISuccess) ldap_search_ext(session.get(), ...);
#pragma once

#include <ldap.h>
#include <sys/types.h>

#include "DirectoryLocation.h"
#include "papi.h"

namespace vesk::legacy::store {

class LdapSession {
  public:
    // How long one request may take before the server counts as unreachable.
    static constexpr int kOperationSeconds = 10;

    explicit LdapSession(DirectoryLocation location) : mLocation(std::move(location)) {}
    ~LdapSession();
    LdapSession(const LdapSession&) = delete;
    LdapSession& operator=(const LdapSession&) = delete;

    // Connects and binds, after closing what was open: 1 when the server
    // cannot be reached, 2 when it refuses the bind.
    PAPIStatus open();
    void close();
    // The connection, or null when there is none in this process (a forked
    // child never writes to its parent's connection).
    LDAP* get();
    // The connection's socket, or -1.
    int fd();

    // Whether an error code means the connection is gone.
    static bool lostConnection(int code);
    // The status of a failed request (not of a bind).
    static PAPIStatus statusOf(int code);

  private:
    PAPIStatus bind();
    // Notes "<server>: <libldap's text> (<server's or system's reason>)".
    void noteFailure(int code) const;

    const DirectoryLocation mLocation;
    LDAP* mLdap = nullptr;
    pid_t mOwner = 0;
};

}  // namespace vesk::legacy::store
