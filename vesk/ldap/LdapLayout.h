// SPDX-License-Identifier: LGPL-2.1-or-later
// Where one entity's layers live in the directory, mirroring the file store:
// below the base DN, "default" is ou=default, "groups/<g>" cn=<g>,ou=groups,
// "hosts/<h>" cn=<h>,ou=hosts, "users/<u>" uid=<u>,ou=users, "entities/<e>"
// cn=<e>,ou=entities, and a layer is the entry cn=<component> below its scope.
// Also maps a DN reported by the server back to a scope and component.
//
//   LdapLayout layout("dc=example,dc=org", {"default", "users/alice"});
//   layout.layerDn(1, "org.example");  // cn=org.example,uid=alice,ou=users,dc=example,dc=org
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vesk::legacy::store {

class LdapLayout {
  public:
    struct Place {
        enum class Kind {
            Elsewhere,  // not an entry of this stack
            Container,  // the base or a folder entry such as ou=users
            Scope,      // the entry of one scope
            Layer       // a layer of one scope
        };
        Kind kind = Kind::Elsewhere;
        size_t scope = 0;
        std::string component;
    };

    LdapLayout(std::string baseDn, std::vector<std::string> scopes);

    const std::string& baseDn() const { return mBaseDn; }
    const std::vector<std::string>& scopes() const { return mScopes; }

    // Empty when the scope or the component cannot be named in a DN (text
    // that is not UTF-8 has no entry).
    std::string scopeDn(size_t scope) const;
    std::string layerDn(size_t scope, const std::string& component) const;

    // Names are compared exactly, as file names are: an entry whose value
    // differs from ours only in case (which LDAP matching ignores) is not ours.
    Place locate(const std::string& dn) const;

    // The filter of the persistent search: every entry whose DN holds one of
    // the stack's scope names, and the folder entries. It may match more (a
    // component named like a group); locate() sorts that out.
    std::string changeFilter() const;

  private:
    struct Step {
        std::string type;   // lower case
        std::string value;  // as written
    };
    struct Scope {
        std::vector<Step> steps;  // from the base down: ou=users, uid=alice
        bool nameable = true;
    };

    static bool sameType(const std::string& lowerType, const std::string& type);

    std::string mBaseDn;
    std::vector<std::string> mScopes;
    std::vector<Scope> mSteps;
    std::vector<Step> mBaseSteps;  // from the top, values in lower case
    bool mBaseParsed = false;
};

}  // namespace vesk::legacy::store
