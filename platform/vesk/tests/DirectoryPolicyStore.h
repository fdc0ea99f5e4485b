// The private directory of a test binary, started on first use and stopped
// at exit, and the DNs of the layout the tests write in it (built with
// libldap's own DN writer, not with the escaping under test).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "TestDirectory.h"

namespace vesk::legacy::store::test {

// Null when slapd cannot be started (the test then fails with the reason).
TestDirectory* sharedDirectory(std::string& error);

// A new, empty base below the suffix for one test: "ou=t3,dc=vesk,dc=test".
std::string freshBase(TestDirectory& directory);

// RDNs from the leaf up, as type and raw value, joined to the base.
std::string dnOf(const std::vector<std::pair<std::string, std::string>>& rdns,
                 const std::string& base);
// The DN of a file store scope ("users/alice") and of a layer in it.
std::string scopeDnOf(const std::string& scope, const std::string& base);
std::string layerDnOf(const std::string& scope, const std::string& component,
                      const std::string& base);

// Adds the scope's folder and scope entries where missing.
void ensureScope(TestDirectory& directory, const std::string& scope, const std::string& base);

}  // namespace vesk::legacy::store::test
