// SPDX-License-Identifier: LGPL-2.1-or-later
// Escapes names for distinguished names (RFC 4514) and search filters
// (RFC 4515), so that a component, user, group or host name always stays one
// value and never changes a query.
//
//   "cn=" + LdapEscape::dnValue("a,b") + ",ou=default,..."     // cn=a\,b,...
//   "(cn=" + LdapEscape::filterValue("x*)") + ")"               // (cn=x\2a\29)
#pragma once

#include <string>

namespace vesk::legacy::store {

class LdapEscape {
  public:
    static std::string dnValue(const std::string& value);
    static std::string filterValue(const std::string& value);
    // Only valid UTF-8 can be a value in a DN; other text has no entry.
    static bool isValidUtf8(const std::string& text);
};

}  // namespace vesk::legacy::store
