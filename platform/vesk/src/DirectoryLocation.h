// Where the policy directory is and how to sign in to it: the server and base
// DN of VESK_POLICY_STORE ("ldap://host[:port]/<base DN>", also ldaps:// and
// ldapi://), and the credentials named by VESK_LDAP_BINDDN and
// VESK_LDAP_PASSWORD_FILE (the password itself is read only when binding).
//
//   DirectoryLocation location;
//   if (DirectoryLocation::isDirectoryUrl(text)) status = DirectoryLocation::parse(text, location);
#pragma once

#include <string>

#include "papi.h"

namespace vesk::legacy::store {

class DirectoryLocation {
  public:
    enum class Authentication { Anonymous, Simple, External };

    static bool isDirectoryUrl(const std::string& text);
    // A URL that is not one server and one base DN is a connection failure,
    // like a store path that does not exist.
    static PAPIStatus parse(const std::string& text, DirectoryLocation& location);

    // "ldap://host:port", without the base DN, for ldap_initialize.
    const std::string& serverUri() const { return mServerUri; }
    const std::string& baseDn() const { return mBaseDn; }
    // A bind DN makes a simple bind; without one, ldapi:// binds with SASL
    // EXTERNAL (the server knows the process's uid) and the others stay anonymous.
    Authentication authentication() const;
    const std::string& bindDn() const { return mBindDn; }
    const std::string& passwordFile() const { return mPasswordFile; }

  private:
    std::string mServerUri;
    std::string mBaseDn;
    std::string mBindDn;
    std::string mPasswordFile;
    bool mLocalSocket = false;
};

}  // namespace vesk::legacy::store
