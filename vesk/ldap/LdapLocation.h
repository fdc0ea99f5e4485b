// SPDX-License-Identifier: LGPL-2.1-or-later
// Where the policy directory is and how to sign in to it: the servers and base
// DN of VESK_POLICY_STORE ("ldap://host[:port]/<base DN>", also ldaps:// and
// ldapi://, or several servers separated by spaces with the base DN given
// once), whether to ask for StartTLS (VESK_LDAP_STARTTLS=1), the CA to check
// server certificates against (VESK_LDAP_CACERT, else ldap.conf), and the
// credentials named by VESK_LDAP_BINDDN and VESK_LDAP_PASSWORD_FILE (the
// password itself is read only when binding).
//
//   LdapLocation location;
//   if (LdapLocation::isDirectoryUrl(text)) status = LdapLocation::parse(text, location);
#pragma once

#include <string>
#include <vector>

#include "papi.h"

namespace vesk::legacy::store {

class LdapLocation {
  public:
    enum class Authentication { Anonymous, Simple, External };

    static bool isDirectoryUrl(const std::string& text);
    // A list that is not servers and one base DN is a connection failure,
    // like a store path that does not exist.
    static PAPIStatus parse(const std::string& text, LdapLocation& location);

    // "ldap://host:port" for each server, without the base DN, in the order given.
    const std::vector<std::string>& servers() const { return mServers; }
    const std::string& baseDn() const { return mBaseDn; }
    // A bind DN makes a simple bind; without one, ldapi:// binds with SASL
    // EXTERNAL (the server knows the process's uid) and the others stay anonymous.
    Authentication authentication(const std::string& server) const;
    const std::string& bindDn() const { return mBindDn; }
    const std::string& passwordFile() const { return mPasswordFile; }
    // StartTLS on every ldap:// server before anything else is sent.
    bool startTls() const { return mStartTls; }
    // The CA file server certificates are checked against; empty: ldap.conf's TLS_CACERT.
    const std::string& caFile() const { return mCaFile; }

  private:
    std::vector<std::string> mServers;
    std::string mBaseDn;
    std::string mBindDn;
    std::string mPasswordFile;
    std::string mCaFile;
    bool mStartTls = false;
};

}  // namespace vesk::legacy::store
