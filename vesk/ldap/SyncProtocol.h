// SPDX-License-Identifier: LGPL-2.1-or-later
// The parts of LDAP content synchronisation (RFC 4533) a listener needs: the
// request control of a refreshAndPersist search without a cookie, and the
// values the server answers with (the sync state of an entry, sync info).
//
//   LDAPControl* control = SyncProtocol::makeRequest();   // ldap_control_free() it
//   SyncProtocol::parseState(stateControl->ldctl_value, state, uuid);
#pragma once

#include <ldap.h>

#include <string>
#include <vector>

namespace vesk::legacy::store {

class SyncProtocol {
  public:
    enum class State { Present = 0, Add = 1, Modify = 2, Delete = 3 };

    struct Info {
        bool refreshDone = false;     // the initial content has been sent
        bool idSet = false;           // a set of entryUUIDs follows
        bool refreshDeletes = false;  // ... and they name deleted entries
        std::vector<std::string> uuids;
    };

    // Null when out of memory.
    static LDAPControl* makeRequest();
    // False for a value that is not one (the caller then trusts nothing in it).
    static bool parseState(const struct berval& value, State& state, std::string& uuid);
    static bool parseInfo(const struct berval& value, Info& info);
};

}  // namespace vesk::legacy::store
