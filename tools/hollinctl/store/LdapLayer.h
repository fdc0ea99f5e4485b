// SPDX-License-Identifier: LGPL-2.1-or-later
// One layer entry of a policy directory (VESK_POLICY_STORE=ldap://...), read
// and written by set, unset, lock and unlock, signed in as libvesk signs in.
//
//   LdapLayer layer(url, "groups/staff", "org.example");
//   std::string text = layer.read();  // "" when the scope has no such layer yet
//   layer.write(edited);              // one modify, or one add
#pragma once

#include <memory>
#include <string>

namespace vesk::legacy::hollinctl {

class LdapLayer {
  public:
    // Connects and binds; throws CommandError naming the servers and why.
    LdapLayer(const std::string& url, const std::string& scope, const std::string& component);
    ~LdapLayer();
    LdapLayer(const LdapLayer&) = delete;
    LdapLayer& operator=(const LdapLayer&) = delete;

    // The layer's bytes, "" when it has no entry yet. Throws when the scope
    // has no entry (unless makeScope was called) or the entry in the layer's
    // place is not a layer.
    std::string read();
    // "scope seconds", the entry's modification time as libvesk stamps the
    // layer; "scope 0" before read() found one.
    const std::string& stamp() const { return mStamp; }
    // A scope without its entry gets one (and its kind's ou=) when written.
    void makeScope() { mMakeScope = true; }
    // Replaces the layer's data, or adds its entry when read() found none.
    // Fails, writing nothing, when the layer changed since read().
    void write(const std::string& text);
    // "<layer DN> on <server>", for messages.
    std::string where() const;

  private:
    void addScope();

    struct Connection;
    std::unique_ptr<Connection> mConnection;
    std::string mScope;
    std::string mComponent;
    std::string mDn;
    bool mExists = false;
    bool mMakeScope = false;
    bool mScopeMissing = false;
    std::string mRead;
    std::string mStamp;
};

}  // namespace vesk::legacy::hollinctl
